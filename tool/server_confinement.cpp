#include "tool/server_confinement.h"

#include "client/thumbnail_client.h"

namespace thumbnail {

std::string ConfinementLine(const std::string& server_path) {
  if (server_path.empty()) return "not found (THUMBNAIL_SERVER names one)";
  ThumbnailClient client(ClientOptions{server_path});
  Confinement confinement;
  const Status status = client.GetConfinement(&confinement);
  if (!status.ok()) return server_path + ", " + status.reason;
  if (!confinement.locked) return server_path + ", not locked: it could open files by name";
  if (confinement.landlock_abi == 0)
    return server_path + ", reads only the files it is handed (seccomp alone: this kernel has no Landlock)";
  return server_path + ", reads only the files it is handed (seccomp and Landlock ABI " +
         std::to_string(confinement.landlock_abi) + ")";
}

}  // namespace thumbnail
