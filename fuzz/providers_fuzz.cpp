// SPDX-License-Identifier: MIT
// The page providers read request parameters that any browser may send:
// directory paths, page starts, sort codes, group names and group folders.
// The input is a list of "name=value" lines, given to a page that drives
// every provider over a small shared list and a fixed directory listing.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "templates/output_sink.h"
#include "providers/client_env_root.h"
#include "providers/directory_browser.h"
#include "providers/fixture_facts.h"
#include "templates/sample_providers.h"
#include "templates/template_interpreter.h"
#include "templates/template_parser.h"

namespace {

using namespace vantrel;
using namespace vantrel::providers;

constexpr std::string_view kPage = R"(<# start;
d := env.getDirectory;
while env.directory(d).hasMorePath; env.directory(d).getPathSegment; env.directory(d).getFullPathSegment; endwhile;
while env.directory(d).hasMoreFiles; env.directory(d).getDirectoryLink; env.directory(d).getFilePath; endwhile;
if env.directory(d).prev5; env.directory(d).prev5Link; endif;
while env.directory(d).hasMorePages; env.directory(d).pageLink; env.directory(d).pageRange; endwhile;
if env.directory(d).next5; env.directory(d).next5Link; endif;
env.directory(d).rootDir; env.directory(d).getGroupDirName; env.directory(d).currentPageNumber;
while env.sharedgroup.hasMorePath; env.sharedgroup.getFullPathSegment; endwhile;
while env.sharedgroup.hasMoreDirectories; env.sharedgroup.getDirEndOfName; endwhile;
while env.sharedgroup.hasMoreFiles; env.sharedgroup.getFileName; endwhile;
env.sharedgroup.groupDirPath; env.sharedgroup.groupName; env.sharedgroup.groupPath;
env.sharedgroup.sort('filesize');
while env.sharedDir.hasMoreDrives; env.sharedDir.getDriveFiles; endwhile;
while env.sharedDir.hasMorePath; env.sharedDir.getFullPathSegment; endwhile;
while env.sharedDir.hasMoreDirectories; env.sharedDir.getDirName; endwhile;
while env.sharedDir.hasMoreFiles; env.sharedDir.getFileName; endwhile;
while env.sharedFile.hasMoreFiles; if env.sharedFile.newGroup; env.sharedFile.groupName; endif;
  if env.sharedFile.newLocalDir; env.sharedFile.directoryName; endif; env.sharedFile.getFileName; endwhile;
while env.sharedFile.hasMoreGroups; env.sharedFile.groupPath; endwhile;
env.fileInfoRequest.fileName; env.command.commandData; env.command.data;
endtmpl #>)";

// A request whose directory browsers list a fixed table, not the disk.
class FuzzRequest : public templates::SampleRequest {
 public:
  using SampleRequest::SampleRequest;
};

struct World {
  World()
      : dir(std::filesystem::temp_directory_path() / ("vantrel_providers_fuzz_" + std::to_string(::getpid()))),
        facts((std::filesystem::create_directories(dir), (dir / "fuzz.dat").string())) {
    facts.home = "/nonexistent-home";
    fillFixtureList(facts.files, {
                                     fixtureFile(1, "/srv/a/x.mp3", 10, 1, "G:Music", "a:b"),
                                     fixtureFile(2, "/srv/a/b/y.mp3", 20, 1, "G:Music", "a"),
                                     fixtureFile(3, "/z.txt", 0, 2, ": :", " : : "),
                                     fixtureFile(4, "noslash", -5, -1, "", ""),
                                 });
    templates::ParseTemplateFile(kPage, set, [](std::string_view) {});
  }
  ~World() { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  FixtureFacts facts;
  templates::TemplateSet set;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  FuzzRequest request("10.0.0.1");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    const size_t eq = line.find('=');
    std::string name(line.substr(0, eq));
    // Directory paths of the fuzz input stay under a folder with nothing in
    // it, so no run lists the real disk.
    std::string value(eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1));
    if (name == "directory") value = world.dir.string() + "/" + value;
    request.add(std::move(name), std::move(value));
    start = end + 1;
  }
  ClientEnvRoot root(world.facts, request);
  templates::PageBuffer page;
  templates::RunLimits limits;
  limits.maxSteps = 100000;
  if (const templates::Template* t = world.set.find("start")) templates::RunTemplate(*t, &root, page, nullptr, limits);
  return 0;
}
