// SPDX-License-Identifier: MIT
#include "tools/pack/pack_tool.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "core/error_table.h"
#include "platform/durable_file.h"
#include "templates/render_template.h"
#include "providers/fixture_facts.h"
#include "providers/page_renderer.h"
#include "templates/sample_providers.h"
#include "templates/template_archive.h"
#include "templates/template_parser.h"

namespace vantrel::pack {
namespace {

namespace fs = std::filesystem;
using templates::CFileArchiveEntry;
using templates::TemplateArchive;

constexpr std::string_view kUsage =
    "usage: vantrel-pack COMMAND ARGUMENTS\n"
    "\n"
    "  pack DIR OUT [--version N]         pack every file of DIR into the archive OUT (filedata.dat)\n"
    "  unpack IN DIR                      write every entry of the archive IN into DIR\n"
    "  list IN                            list the entries of the archive IN\n"
    "  check IN|DIR                       parse every template and print every diagnostic\n"
    "  render IN|DIR NAME [name=value...] render the page NAME against a sample client, with\n"
    "                                     the request values given\n"
    "  --help                             show this text\n";

constexpr std::string_view kCommands[] = {"pack", "unpack", "list", "check", "render"};

class Tool {
 public:
  Tool(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

  int run(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? "" : args[0];
    if (command == "pack" && (args.size() == 3 || (args.size() == 5 && args[3] == "--version"))) {
      int32_t version = 0;
      if (args.size() == 5) {
        const std::string& v = args[4];
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), version);
        if (ec != std::errc() || end != v.data() + v.size()) return usage("--version wants a number");
      }
      return pack(args[1], args[2], version);
    }
    if (command == "unpack" && args.size() == 3) return unpack(args[1], args[2]);
    if (command == "list" && args.size() == 2) return list(args[1]);
    if (command == "check" && args.size() == 2) return check(args[1]);
    if (command == "render" && args.size() >= 3) {
      return render(args[1], args[2], std::vector<std::string>(args.begin() + 3, args.end()));
    }
    if (command == "--help" || command == "-h" || command == "help") {
      m_out << kUsage;
      return kExitOk;
    }
    if (command.empty()) return usage("no command given");
    if (std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands)) {
      return usage("unknown command " + command);
    }
    return usage("wrong arguments for " + command);
  }

 private:
  // A wrong command line: one line naming what is wrong and where to look.
  int usage(const std::string& what = "wrong arguments") {
    m_err << "vantrel-pack: " << what << "; see vantrel-pack --help\n";
    return kExitUsage;
  }

  int fail(const std::string& message) {
    m_err << "vantrel-pack: " << message << "\n";
    return kExitFailed;
  }

  static std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
  }

  // Every regular file of dir under its file name, in name order.
  std::optional<TemplateArchive> readFolder(const fs::path& dir) {
    TemplateArchive archive;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
      if (!e.is_regular_file()) continue;
      std::optional<std::string> bytes = readFile(e.path());
      if (!bytes) {
        fail("cannot read " + e.path().string());
        return std::nullopt;
      }
      archive.add(e.path().filename().string(), CFileArchiveEntry(std::move(*bytes)));
    }
    if (ec) {
      fail("cannot read folder " + dir.string() + ": " + ec.message());
      return std::nullopt;
    }
    return archive;
  }

  std::optional<TemplateArchive> readArchive(const fs::path& file) {
    std::optional<std::string> bytes = readFile(file);
    if (!bytes) {
      fail("cannot read " + file.string());
      return std::nullopt;
    }
    TemplateArchive archive;
    const ArchiveError error =
        archive.read(std::span(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
    if (error != ArchiveError::None) {
      fail(file.string() + ": malformed archive: " + std::string(archiveErrorText(error)));
      return std::nullopt;
    }
    return archive;
  }

  std::optional<TemplateArchive> readFolderOrArchive(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec) ? readFolder(path) : readArchive(path);
  }

  // Written crash-safely (platform/durable_file.h): a failed write never
  // leaves half a file behind. Pages and archives are for everyone to read.
  bool writeFile(const fs::path& path, std::string_view bytes) {
    if (!replaceFileDurably(path.string(), bytes, FileAccess::kReadableByAll).empty()) {
      fail("cannot write " + path.string());
      return false;
    }
    return true;
  }

  int pack(const fs::path& dir, const fs::path& outFile, int32_t version) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return fail(dir.string() + " is not a folder");
    std::optional<TemplateArchive> archive = readFolder(dir);
    if (!archive) return kExitFailed;
    archive->setVersion(version);
    const std::vector<uint8_t> bytes = archive->write();
    return writeFile(outFile, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) ? kExitOk
                                                                                                           : kExitFailed;
  }

  // Entry names come from the archive: only plain file names may become files.
  static bool safeFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
  }

  int unpack(const fs::path& inFile, const fs::path& dir) {
    std::optional<TemplateArchive> archive = readArchive(inFile);
    if (!archive) return kExitFailed;
    for (const auto& [name, entry] : archive->entries()) {
      if (!safeFileName(name)) return fail("entry name \"" + name + "\" is not a plain file name");
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return fail("cannot create " + dir.string() + ": " + ec.message());
    for (const auto& [name, entry] : archive->entries()) {
      if (!writeFile(dir / name, entry.content)) return kExitFailed;
    }
    m_out << "version " << archive->TemplateVersion() << "\n";
    return kExitOk;
  }

  int list(const fs::path& inFile) {
    std::optional<TemplateArchive> archive = readArchive(inFile);
    if (!archive) return kExitFailed;
    m_out << "version " << archive->TemplateVersion() << "\n";
    for (const auto& [name, entry] : archive->entries()) m_out << name << " " << entry.content.size() << "\n";
    return kExitOk;
  }

  static bool isTemplate(std::string_view name) { return name.ends_with(".html"); }

  int check(const fs::path& path) {
    std::optional<TemplateArchive> archive = readFolderOrArchive(path);
    if (!archive) return kExitFailed;
    int failures = 0;
    for (const auto& item : archive->entries()) {
      const std::string& name = item.first;
      if (!isTemplate(name)) continue;
      templates::TemplateSet set;
      const bool parsed = templates::ParseTemplateFile(templates::templateText(item.second.content), set,
                                                       [&](std::string_view line) { m_out << name << ": " << line << "\n"; });
      if (!parsed) {
        ++failures;
      } else if (set.find("start") == nullptr) {
        m_out << name << ": no template named start\n";
        ++failures;
      }
    }
    return failures == 0 ? kExitOk : kExitFailed;
  }

  int render(const fs::path& path, const std::string& name, const std::vector<std::string>& params) {
    std::optional<TemplateArchive> archive = readFolderOrArchive(path);
    if (!archive) return kExitFailed;
    templates::SampleRequest request("127.0.0.1");
    for (const std::string& p : params) {
      const size_t eq = p.find('=');
      if (eq == std::string::npos) return usage("render wants request values as name=value, not " + p);
      request.add(p.substr(0, eq), p.substr(eq + 1));
    }
    // The sample client: the real page providers over a small fixed client with
    // an empty shared list, so a page previews as other users would see it.
    providers::FixtureFacts facts("");
    facts.own = "127.0.0.1";
    facts.user = "sample";
    facts.server = "localhost";
    facts.active = 0;
    facts.peak = 0;
    facts.sent = 0;
    facts.rate = 0;
    facts.topRate = 0;
    facts.totalSent = "0 bytes";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') facts.home = home;
    std::string page;
    const int code = providers::renderClientPage(name, *archive, facts, request, page, nullptr,
                                                 [&](std::string_view line) { m_err << line << "\n"; });
    if (code != err::kOk) {
      m_err << code << " " << errorTitle(code) << "\n";
      return kExitFailed;
    }
    m_out.write(page.data(), static_cast<std::streamsize>(page.size()));
    return kExitOk;
  }

  std::ostream& m_out;
  std::ostream& m_err;
};

}  // namespace

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return Tool(out, err).run(args);
}

}  // namespace vantrel::pack
