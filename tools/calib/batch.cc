// SPDX-License-Identifier: Apache-2.0
// Batch runs of the image commands; see batch.h.
#include "tools/calib/batch.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>
#include <typeinfo>

#include "platform/foundation/exception.h"
#include "platform/foundation/persistent.h"
#include "tools/calib/commands.h"
#include "tools/calib/json.h"
#include "tools/calib/read_limits.h"

namespace {

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool isImageName(const std::string& path) {
  return cfHasExtension(path, ".png") || cfHasExtension(path, ".jpg") ||
         cfHasExtension(path, ".jpeg") || cfHasExtension(path, ".pgm");
}

// The image files directly inside a folder, sorted by name.
std::vector<std::string> folderImages(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (isImageName(name) && it->is_regular_file(typeError)) names.push_back(name);
  }
  if (ec) throw ccUsageError("cannot list folder '" + folder + "': " + ec.message());
  std::sort(names.begin(), names.end());
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (std::string& n : names) n = prefix + n;
  return names;
}

std::vector<std::string> globMatches(const std::string& pattern) {
  glob_t g;
  std::memset(&g, 0, sizeof g);
  const int status = ::glob(pattern.c_str(), 0, nullptr, &g);
  std::vector<std::string> out;
  if (status == 0) out.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);  // glob() sorts them
  ::globfree(&g);
  if (status == GLOB_NOMATCH) throw ccUsageError("'" + pattern + "' matches no file");
  if (status != 0) throw ccUsageError("cannot expand '" + pattern + "'");
  return out;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

std::string csvNumber(double v, int decimals) {
  return std::isfinite(v) ? ccJsonWriter::formatNumber(v, decimals) : std::string();
}

const char kCsvHeader[] = "file,ok,cols,rows,count,rms,max_residual,time_ms,error\n";

std::string csvRow(const std::string& file, const ccBatchResult& r) {
  std::string row = csvField(file) + (r.ok ? ",true," : ",false,");
  if (r.ok) {
    row += std::to_string(r.cols) + "," + std::to_string(r.rows) + "," + std::to_string(r.count);
  } else {
    row += ",,";
  }
  row += "," + csvNumber(r.rms, 9) + "," + csvNumber(r.maxResidual, 9) + "," + csvNumber(r.ms, 3) +
         ",";
  if (!r.ok) row += csvField(r.errorClass + ": " + r.message);
  return row + "\n";
}

std::string failureJson(const std::string& file, const ccBatchResult& r) {
  std::ostringstream text;
  ccJsonWriter json(text, 0);
  json.beginObject().member("file", file).member("found", false).member("error", r.errorClass);
  json.member("message", r.message).endObject();
  return text.str() + "\n";
}

// Everything one image gave, as the format writes it.
void record(std::FILE* out, const std::string& command, const std::string& file,
            const ccBatchResult& r, ccBatchOptions::Format format) {
  if (format == ccBatchOptions::eCsv) {
    std::fputs(csvRow(file, r).c_str(), out);
  } else if (format == ccBatchOptions::eJsonl) {
    std::fputs(r.ok ? r.json.c_str() : failureJson(file, r).c_str(), out);
  } else if (r.ok) {
    std::fputs(r.summary.c_str(), out);
  } else {
    std::fflush(out);
    std::fprintf(stderr, "calib %s: error: %s\n", command.c_str(), r.message.c_str());
  }
  std::fflush(out);
}

}  // namespace

std::string cfFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&s[0], s.size() + 1, format, again);
  va_end(again);
  return s;
}

std::vector<ccCommandArgs::Option> cfWithBatchOptions(std::vector<ccCommandArgs::Option> options) {
  options.push_back({"format", true});
  options.push_back({"jobs", true});
  options.push_back({"output", true});
  return options;
}

void cfPrintBatchCommandHelp(const char* head, const char* tail) {
  std::fputs(head, stdout);
  std::fputs(cfReadLimitHelp().c_str(), stdout);
  std::fputs("\n", stdout);
  std::fputs(
      "Several images (paths, glob patterns such as 'shots/*.png', folders: their .png, .jpg,\n"
      ".jpeg and .pgm files, sorted by name) give one record per image, in the order given:\n"
      "  --format F   text (default), jsonl (one JSON object per line with \"file\"; the\n"
      "               default with --json) or csv (header, then one row per image)\n"
      "  --jobs N     images run at once, each on its own thread (default 1)\n"
      "  -o, --output FILE  write the records to FILE instead of standard output\n"
      "A failed image is recorded (found false, its error) and the batch goes on; a summary\n"
      "goes to standard error. Exit status 0 when every image succeeded, 1 otherwise.\n",
      stdout);
  std::fputs(tail, stdout);
}

std::vector<std::string> cfExpandShortOptions(std::vector<std::string> words) {
  for (std::string& w : words) {
    if (w == "--") break;
    if (w == "-o") w = "--output";
  }
  return words;
}

std::vector<std::string> cfImageList(const std::vector<std::string>& words, bool& expanded) {
  expanded = false;
  if (words.empty()) throw ccUsageError("give at least one image");
  std::vector<std::string> images;
  for (const std::string& w : words) {
    std::vector<std::string> paths(1, w);
    if (w.find_first_of("*?[") != std::string::npos && !exists(w)) {
      paths = globMatches(w);
      expanded = true;
    }
    for (const std::string& p : paths) {
      if (!isDirectory(p)) {
        images.push_back(p);
        continue;
      }
      const std::vector<std::string> inside = folderImages(p);
      if (inside.empty())
        throw ccUsageError("folder '" + p + "' holds no .png, .jpg, .jpeg or .pgm file");
      images.insert(images.end(), inside.begin(), inside.end());
      expanded = true;
    }
  }
  return images;
}

bool cfBatchOptions(const ccCommandArgs& args, std::size_t images, bool expanded,
                    ccBatchOptions& out) {
  const bool json = args.flag("json");
  const std::string format = args.text("format", json ? "jsonl" : "text");
  if (format == "text") {
    out.format = ccBatchOptions::eText;
  } else if (format == "jsonl") {
    out.format = ccBatchOptions::eJsonl;
  } else if (format == "csv") {
    out.format = ccBatchOptions::eCsv;
  } else {
    throw ccUsageError("--format must be text, jsonl or csv, not '" + format + "'");
  }
  if (json && out.format != ccBatchOptions::eJsonl)
    throw ccUsageError("--json writes --format jsonl, not " + format);
  const long jobs = args.integer("jobs", 1);
  if (jobs < 1 || jobs > 256) throw ccUsageError("--jobs must be 1 to 256");
  out.jobs = static_cast<unsigned>(jobs);
  out.output = args.text("output");
  if (args.has("output") && out.output.empty()) throw ccUsageError("--output needs a file name");
  return images != 1 || expanded || args.has("format") || args.has("jobs") || args.has("output");
}

void cfDescribeCurrentFailure(const std::string& path, std::string& errorClass,
                              std::string& message) {
  try {
    throw;
  } catch (const ccFileFailure& e) {
    errorClass = e.errorClass();
    message = e.what();
  } catch (const ccException& e) {
    // Some failures carry no text; their class names what went wrong.
    errorClass = e.persistentTypeName();
    message = e.messageUtf8().empty() ? e.persistentTypeName() : e.messageUtf8();
  } catch (const std::exception& e) {
    errorClass = cfTypeName(typeid(e));
    message = e.what();
  } catch (...) {
    errorClass = "unknown";
    message = "unknown failure";
  }
  if (message.find(path) == std::string::npos) message = path + ": " + message;
}

int cfRunBatch(const std::string& command, const std::vector<std::string>& images,
               const ccBatchOptions& options,
               const std::function<ccBatchResult(const std::string&)>& work) {
  std::FILE* out = stdout;
  if (!options.output.empty()) {
    out = std::fopen(options.output.c_str(), "w");
    if (!out) {
      throw ccFileFailure("ccImageFileError",
                          "cannot write '" + options.output + "': " + std::strerror(errno));
    }
  }
  const auto start = std::chrono::steady_clock::now();
  const std::size_t n = images.size();
  std::vector<ccBatchResult> results(n);
  std::vector<char> done(n, 0);
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<std::size_t> next{0};

  auto worker = [&]() {
    for (std::size_t i = next++; i < n; i = next++) {
      ccBatchResult r;
      try {
        r = work(images[i]);
      } catch (...) {
        r = ccBatchResult();
        cfDescribeCurrentFailure(images[i], r.errorClass, r.message);
      }
      std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(r);
      done[i] = 1;
      finished.notify_all();
    }
  };
  std::vector<std::thread> threads;
  const std::size_t count = std::min<std::size_t>(options.jobs, std::max<std::size_t>(n, 1));
  for (std::size_t t = 0; t < count; ++t) threads.emplace_back(worker);

  const bool progress = ::isatty(STDERR_FILENO) != 0;
  if (options.format == ccBatchOptions::eCsv) std::fputs(kCsvHeader, out);
  if (progress) std::fprintf(stderr, "[0/%zu]", n);
  std::size_t failed = 0;
  // Records go out in input order: wait for each in turn while later ones may finish first.
  for (std::size_t i = 0; i < n; ++i) {
    ccBatchResult r;
    {
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait(lock, [&] { return done[i] != 0; });
      r = std::move(results[i]);
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
    if (!r.ok) ++failed;
    record(out, command, images[i], r, options.format);
    if (progress && i + 1 < n) std::fprintf(stderr, "[%zu/%zu] %s", i + 1, n, images[i].c_str());
  }
  for (std::thread& t : threads) t.join();
  const bool written = std::ferror(out) == 0;
  if (out != stdout && std::fclose(out) != 0) {
    throw ccFileFailure("ccImageFileError", "cannot write '" + options.output + "'");
  }
  if (!written) throw ccFileFailure("ccImageFileError", "cannot write the records");

  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "calib %s: %zu images, %zu succeeded, %zu failed, %.1f ms\n",
               command.c_str(), n, n - failed, failed, ms);
  return failed == 0 ? 0 : 1;
}
