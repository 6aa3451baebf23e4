#include "platform/kernel/handed_file.h"

#include <unistd.h>

namespace handed_file {
namespace {

int heldFd = -1;
uint64_t heldBudget = 0;
ReadTally tally;

}  // namespace

void Hold(int fd, uint64_t budget) {
  Drop();
  heldFd = fd;
  heldBudget = budget;
}

void Drop() {
  if (heldFd >= 0) ::close(heldFd);
  heldFd = -1;
  heldBudget = 0;
}

int Take(uint64_t* budget) {
  const int fd = heldFd;
  *budget = heldBudget;
  heldFd = -1;
  heldBudget = 0;
  return fd;
}

ReadTally& Tally() { return tally; }

}  // namespace handed_file
