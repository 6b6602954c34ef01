#include "Outputs.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "ToolSupport.h"

namespace velktool {

namespace fs = std::filesystem;

void refuseInputsAsOutputs(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs) {
  for (const NamedFile& out : outputs)
    for (const NamedFile& in : inputs)
      if (fileio::sameFile(out.path, in.path))
        throw UsageError(out.option + " " + out.path + " is the same file as the " + in.option + " " + in.path +
                         ", which writing it would destroy; choose another file for " + out.option);
}

void refuseUnwritable(const std::vector<NamedFile>& outputs) {
  for (const NamedFile& out : outputs) {
    const std::string problem = fileio::outputProblem(out.path);
    if (!problem.empty()) throw std::runtime_error(out.option + ": " + problem);
  }
}

StagedText::StagedText(const std::string& path, const std::string& content) : file_(path) {
  std::ofstream out(file_.writePath(), std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

CreatedFolder::CreatedFolder(const std::string& path) {
  std::vector<fs::path> missing;
  fs::path folder = fs::absolute(path).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();  // "out/" names "out"
  for (fs::path p = folder; !p.empty() && !fs::exists(p); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    std::error_code ec;
    if (!fs::create_directory(*it, ec) && ec)
      throw std::runtime_error("cannot make the output folder " + path + ": " + ec.message());
    made_.push_back(it->string());
  }
  if (!fs::is_directory(path)) throw std::runtime_error("the output folder " + path + " exists and is not a folder");
}

CreatedFolder::~CreatedFolder() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    std::error_code ignored;
    fs::remove(*it, ignored);  // removes only an empty folder
  }
}

}  // namespace velktool
