// Binding of the backup core library "qvcore32.dll" at run time, shared by
// the package builder and the client setup program.
//
// The library is searched in this order, each folder with both file names
// "qvcore32.dll" and "ocore32.dll": the running program's folder; the folder
// in "InstallDir" of "Software\Velmora\Orbserver\CurrentVersion" (server) or
// "...\Orbclient\CurrentVersion" (client), under HKEY_CURRENT_USER, then
// HKEY_LOCAL_MACHINE; the same for "Quovix Server\2.00" or
// "Quovix Client\2.00"; last the bare names (the loader's own search).
#pragma once
#include <string>
#include <vector>

#include "qv/qvcore.h"

namespace zel {

// Typed pointers to the core library's calls, resolved from its entry table.
struct QvCore {
#define QV_BIND_MEMBER(name) decltype(&::name) name = nullptr;
  QV_FOR_EACH_ENTRY(QV_BIND_MEMBER)
#undef QV_BIND_MEMBER
};

constexpr int QV_BIND_OK = 0;
constexpr int QV_BIND_NOT_FOUND = -1;      // no candidate could be loaded
constexpr int QV_BIND_MISSING_ENTRY = -2;  // a library loaded but its table is incomplete

// Binds the library for a server (1) or client (0) program. The first
// successful bind loads the library and calls qvStartup; later ones only
// count. Returns QV_BIND_OK, QV_BIND_NOT_FOUND or QV_BIND_MISSING_ENTRY.
int QvBind(int server);
// The same with the candidates of QvCandidatePaths(programFolder, server).
int QvBindFrom(const std::string& programFolder, int server);
// The same with an explicit list of candidates, tried in order.
int QvBindCandidates(const std::vector<std::string>& candidates, int server);
// Counts a bind down; the last calls qvShutDown and unloads the library.
void QvRelease();

// The bound calls; null while nothing is bound.
const QvCore* QvApi();
// The file that was bound; empty while nothing is bound.
std::string QvBoundPath();
// Starts still open.
int QvBindCount();

// The search order for a program folder (empty: skip that step).
std::vector<std::string> QvCandidatePaths(const std::string& programFolder, int server);

}  // namespace zel
