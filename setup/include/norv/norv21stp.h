/* The framework setup library (libnorv21stp.so): what a plugin's own
 * installer calls to make sure the explorer framework is installed and to
 * register or remove the plugin.
 *
 * C linkage, 8-bit text (UTF-8). Every text argument and every buffer the
 * library fills is a path buffer of NORV_SETUP_PATH_SIZE bytes: an argument
 * of that length or more, or a stored value that would not fit a buffer, is
 * refused with the error the function states; nothing is ever cut short.
 *
 * The registration is written under HKEY_LOCAL_MACHINE
 * "Software\Velmora\NORV2.1\Plugins\<name>" in the layout that the
 * framework's plugin handler reads. See docs/framework-setup.md. */
#ifndef NORV_NORV21STP_H
#define NORV_NORV21STP_H

#include <stdint.h>

#if defined(__GNUC__)
#define NORV_SETUP_API __attribute__((visibility("default")))
#else
#define NORV_SETUP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of every text buffer, the terminating zero included. */
#define NORV_SETUP_PATH_SIZE 260

/* Result codes of the installing functions (otherwise the installer
 * program's exit code modulo 16). */
#define NORV_SETUP_OK 0
#define NORV_SETUP_BAD_LOCALE 1        /* register: locale not exactly three characters */
#define NORV_SETUP_INSTALLER_BUSY 7    /* files in use: explorers still running */
#define NORV_SETUP_OLD_SYSTEM 258      /* prerequisite: system too old */
#define NORV_SETUP_OLD_BROWSER 257     /* prerequisite: browser too old */
#define NORV_SETUP_REGISTRY_FAILED 11  /* registry not written, or a value refused */
#define NORV_SETUP_RESPONSE_FAILED 12  /* response file not written */
#define NORV_SETUP_NO_INSTALLER 13     /* "NorvSetup.exe" could not be started */

/* Registration flags (the "RegFlag" value). */
#define NORV_SETUP_KEEP_PREVIOUS_VERSION 1u /* leave the previous version's keys alone */

/* Filled by GetNorvDiskSpaceRequired: the target drive ("C:\") at byte 0,
 * the space required at byte 1300. */
typedef struct NorvDiskSpace {
  char drive[1300];
  uint32_t spaceRequired;
} NorvDiskSpace;

/* 1 when the framework key can be opened for reading, else 0. */
NORV_SETUP_API int IsNorvInstalled(void);
/* Copy "Version", "Path" and "ExePath" of the framework key into a buffer
 * of NORV_SETUP_PATH_SIZE bytes: 1, or 0 (buffer emptied) when the value is
 * missing, not a string or too long. */
NORV_SETUP_API int GetNorvVersion(char* buffer);
NORV_SETUP_API int GetNorvPath(char* buffer);
NORV_SETUP_API int GetNorvCoreExecutable(char* buffer);
/* Number of registered plugins; 0 when the plugins key does not exist. */
NORV_SETUP_API int GetNorvPluginNum(void);
/* 1 when the plugin (with a locale: its locale key) is registered. */
NORV_SETUP_API int IsNorvPluginInstalled(const char* name, const char* locale);
/* 0 when the system can run the framework; 258 or 257 when it cannot. */
NORV_SETUP_API int CheckNorvPreReqs(void);
/* Copies the installation image into `destination` through the installer
 * found in `installerFolder` (null: this library's folder). 1 for a null
 * destination, else a result code. */
NORV_SETUP_API int CopyNorvImage(const char* destination, const char* installerFolder);
/* Fills the record: 1, or 0 for a null record. */
NORV_SETUP_API int GetNorvDiskSpaceRequired(NorvDiskSpace* record);
/* Installs the framework when needed and registers one locale of a plugin;
 * help files may be null (none). Returns a result code. */
NORV_SETUP_API int RegisterNorvPlugin(const char* name, const char* locale, uint32_t flags,
                                      const char* pluginLibrary, const char* resourceLibrary,
                                      const char* helpFile, const char* messageHelpFile,
                                      const char* installerFolder);
/* Removes a plugin's locale (null: the whole plugin); uninstalls the
 * framework when no plugin is left. 1; 0 for a name that cannot name a
 * plugin (null, empty, holding "\" or too long), which changes nothing. */
NORV_SETUP_API int DeregisterNorvPlugin(const char* name, const char* locale, uint32_t flags);

/* Additions for tools such as norvreg. */

/* Runs the installer as registering does, without registering a plugin:
 * a result code (11 when the framework is still not installed). */
NORV_SETUP_API int InstallNorv(const char* installerFolder);
/* The name of registered plugin `index` (0-based, in enumeration order):
 * 1, or 0 past the end. */
NORV_SETUP_API int GetNorvPluginName(int index, char* buffer);
/* Locale key `index` of a plugin: 1, or 0 past the end. */
NORV_SETUP_API int GetNorvPluginLocale(const char* name, int index, char* buffer);
/* A string value of the plugin key ("PluginDLL") or, with a locale, of its
 * locale key ("ResourceDLL", "HelpFile", "MessageHelpFile"): 1 or 0. */
NORV_SETUP_API int GetNorvPluginValue(const char* name, const char* locale,
                                      const char* valueName, char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* NORV_NORV21STP_H */
