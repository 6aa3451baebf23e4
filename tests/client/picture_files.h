// Reading back the pictures the tool writes, with the libraries a viewer
// would use, and small helpers for the client tests.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "client/thumbnail_client.h"

// A PNG read by libpng: its frame and its text chunks. False when libpng
// refuses the file.
bool ReadPng(const std::string& path, thumbnail::Frame* frame, std::map<std::string, std::string>* text = nullptr);

// A JPEG read by libjpeg: its frame. False when libjpeg refuses the file.
bool ReadJpeg(const std::string& path, thumbnail::Frame* frame);

// The names in a folder, "." and ".." left out, sorted.
std::string ListFolder(const std::string& folder);

// A fresh empty folder under the fixture folder for one test.
std::string ScratchFolder(const std::string& name);

// The descriptor numbers open in a process, as "0 1 2 ...".
std::string OpenDescriptors(pid_t pid);

// True while `pid` names a process, a zombie included.
bool ProcessExists(pid_t pid);

// Runs the thumbnail tool with `arguments` (already quoted for the shell)
// after `environment` (VAR=value words), its stdin /dev/null unless the
// arguments redirect it. Returns its exit status, with stdout and stderr
// together in *output.
int RunTool(const std::string& arguments, std::string* output = nullptr, const std::string& environment = "");

// The number of lines in `text`.
int CountLines(const std::string& text);

// The video fixtures most tool tests use, two seconds each: 320 x 180 MP4
// and 180 x 320 Matroska.
std::string WideVideo();
std::string TallVideo();
