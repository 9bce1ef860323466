// SPDX-License-Identifier: MIT
#include "server/storage/storage_backend.h"

namespace vantrel::server {

namespace storage_fault {
namespace {
thread_local bool t_noted = false;
}
void clear() { t_noted = false; }
void note() { t_noted = true; }
bool noted() { return t_noted; }
}  // namespace storage_fault

}  // namespace vantrel::server
