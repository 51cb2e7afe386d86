# norv_add_resource_module(...): builds a resource library from a resource
# script. (Filled in with the resource-module reader.)
