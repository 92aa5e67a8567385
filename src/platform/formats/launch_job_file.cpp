#include "platform/formats/launch_job_file.h"

#include "platform/formats/property_list.h"

namespace nimbra {

std::string labelFromFileName(std::string_view path) {
  constexpr std::string_view kSuffix = ".plist";
  const size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.ends_with(kSuffix)) name.remove_suffix(kSuffix.size());
  return std::string(name);
}

LaunchJob readLaunchJob(const std::string& path) {
  LaunchJob job;
  std::optional<PropertyList> file = PropertyList::readDictionary(path);
  job.readable = file.has_value();
  job.label = (file ? file->string("Label") : std::nullopt).value_or(labelFromFileName(path));
  if (!file) return job;
  const std::vector<std::string> vector =
      file->strings("ProgramArguments").value_or(std::vector<std::string>{});
  if (!vector.empty()) job.arguments.assign(vector.begin() + 1, vector.end());
  job.program = file->string("Program").value_or("");
  if (job.program.empty() && !vector.empty()) job.program = vector.front();
  job.disabled = file->boolean("Disabled").value_or(false);
  job.runAtLoad = file->boolean("RunAtLoad").value_or(false);
  return job;
}

}  // namespace nimbra
