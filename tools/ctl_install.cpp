// tormelctl install and uninstall: registering the service with the
// system's service manager, where the program does that itself (Windows).
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ctl.h"
#include "os_service.h"

namespace {

constexpr const char* kDefaultName = "Tormel";
constexpr const char* kDisplayName = "Tormel store-and-forward service";
constexpr const char* kDescription =
    "Delivers the records other programs leave in numbered buffer files to their receiving station.";
constexpr unsigned kStopTimeoutSeconds = 30;

// [--name NAME] and, where the command takes one, a parameter file path.
bool ParseArguments(const char* command, int argc, char** argv, bool takesPath, std::string* name,
                    std::string* path) {
  *name = kDefaultName;
  bool havePath = false;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--name") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
      *name = argv[++i];
    } else if (takesPath && !havePath && argv[i][0] != '-') {
      *path = argv[i];
      havePath = true;
    } else {
      CtlUsageError(std::string(command) + " does not take \"" + argv[i] + "\"");
      return false;
    }
  }
  return true;
}

int Failed(int err, const std::string& name, const char* doing) {
  switch (err) {
    case OS_SERVICE_UNSUPPORTED:
      CtlError(std::string(doing) + " is for Windows. On Linux, install the Debian package: it brings the "
               "systemd unit tormel.service (systemctl enable --now tormel; systemctl disable --now tormel)");
      break;
    case OS_SERVICE_DENIED:
      CtlError(std::string("not allowed to ") + doing + " a service: run tormelctl from an elevated command prompt "
               "(Run as administrator)");
      break;
    case OS_SERVICE_EXISTS:
      CtlError("a service named \"" + name + "\" is installed already (tormelctl uninstall --name " + name +
               " removes it)");
      break;
    case OS_SERVICE_MISSING:
      CtlError("no service named \"" + name + "\" is installed");
      break;
    case OS_SERVICE_STILL_RUNNING:
      CtlError("the service \"" + name + "\" did not stop within " + std::to_string(kStopTimeoutSeconds) +
               " s; it is still installed");
      break;
    default:
      CtlError(std::string("cannot ") + doing + " the service \"" + name + "\": " + CtlErrorText(err));
  }
  return CTL_EXIT_FAILED;
}

}  // namespace

int CtlInstall(int argc, char** argv) {
  std::string name, path;
  if (!ParseArguments("install", argc, argv, true, &name, &path)) return CTL_EXIT_USAGE;
  char program[4096];
  int err = OsServiceSiblingProgram("tormel", program, sizeof program);
  if (err != 0) return Failed(err, name, "install");
  // The service runs in the system's folder, not here; the whole rest of
  // its command line is the path, so it is not quoted.
  std::string commandLine = std::string("\"") + program + "\"";
  if (!path.empty()) commandLine.append(" ").append(std::filesystem::absolute(path).string());

  err = OsServiceInstall(name.c_str(), kDisplayName, kDescription, commandLine.c_str());
  if (err != 0) return Failed(err, name, "install");
  printf("installed the service \"%s\", started with the system: %s\n", name.c_str(), commandLine.c_str());
  return CTL_EXIT_OK;
}

int CtlUninstall(int argc, char** argv) {
  std::string name, path;
  if (!ParseArguments("uninstall", argc, argv, false, &name, &path)) return CTL_EXIT_USAGE;
  int err = OsServiceUninstall(name.c_str(), kStopTimeoutSeconds);
  if (err != 0) return Failed(err, name, "uninstall");
  printf("stopped and removed the service \"%s\"\n", name.c_str());
  return CTL_EXIT_OK;
}
