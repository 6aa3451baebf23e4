// What --version says of the server: how it is kept from opening files.
#pragma once

#include <string>

namespace thumbnail {

// Starts the server at server_path, locked as every run locks it, and tells
// in a line how: seccomp and Landlock, seccomp alone (a kernel without
// Landlock), or why it could not be asked.
std::string ConfinementLine(const std::string& server_path);

}  // namespace thumbnail
