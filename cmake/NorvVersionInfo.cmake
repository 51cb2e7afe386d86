# norv_version_info(target DESCRIPTION text [ORIGINAL_FILENAME name])
# Stamps a version record into the target's ELF file. (Filled in with the
# version-record reader.)
function(norv_version_info target)
endfunction()
