// SPDX-License-Identifier: MIT
// vantrel-pack: see pack_tool.h.
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "tools/pack/pack_tool.h"

int main(int argc, char** argv) {
  try {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int code = vantrel::pack::runPackTool(args, std::cout, std::cerr);
    std::cout.flush();
    return code;
  } catch (const std::bad_alloc&) {
    std::cerr << "vantrel-pack: out of memory\n";
    return vantrel::pack::kExitFailed;
  }
}
