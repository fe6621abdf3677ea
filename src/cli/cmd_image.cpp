// `quorvel image`: copies a disk or one partition, sector by sector, to an
// image file or to another disk, listing every unreadable sector. The source
// is only ever read; the target is the one thing written.
#include <sys/stat.h>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_interrupt.h"
#include "cli/cli_source.h"
#include "cli/command_registry.h"
#include "cli/json_writer.h"
#include "cli/number_argument.h"
#include "core/terminal_progress.h"
#include "imaging/image_copy.h"
#include "imaging/imaging_job.h"
#include "imaging/imaging_resume.h"
#include "imaging/imaging_texts.h"
#include "imaging/mapfile.h"
#include "platform/free_space.h"

namespace quorvel::cli {

namespace {

constexpr const char* kName = "image";

struct ImageArgs {
  std::vector<std::string> positional;
  std::string toFile, toDisk, toDiskPartition, mapfile;
  bool haveToFile = false, haveToDisk = false, json = false, quiet = false;
  std::string start, count, targetStart, retries, clusterSize;
  bool reverse = false;
};

int Usage(const std::string& why) { return UsageError(kName, why); }

// The one positional argument right after --to-disk TARGET is the target's
// partition; the others are SOURCE [PARTITION]. Only the options of the
// command's table are taken.
bool ParseImageArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& options, ImageArgs& out,
                    std::string& error) {
  auto value = [&](size_t& i, std::string& into) {
    if (i + 1 >= args.size()) {
      error = args[i] + " needs a value";
      return false;
    }
    into = args[++i];
    return true;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 1 && arg[0] == '-' && !FindOption(options, arg)) {
      error = "unknown option " + arg;
      return false;
    }
    if (arg == "--to-file") {
      if (!value(i, out.toFile)) return false;
      out.haveToFile = true;
    } else if (arg == "--to-disk") {
      if (!value(i, out.toDisk)) return false;
      out.haveToDisk = true;
      if (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) out.toDiskPartition = args[++i];
    } else if (arg == "--start") {
      if (!value(i, out.start)) return false;
    } else if (arg == "--count") {
      if (!value(i, out.count)) return false;
    } else if (arg == "--target-start") {
      if (!value(i, out.targetStart)) return false;
    } else if (arg == "--mapfile") {
      if (!value(i, out.mapfile)) return false;
    } else if (arg == "--retries") {
      if (!value(i, out.retries)) return false;
    } else if (arg == "--cluster-size") {
      if (!value(i, out.clusterSize)) return false;
    } else if (arg == "--reverse") {
      out.reverse = true;
    } else if (arg == "--json") {
      out.json = true;
    } else if (arg == "--quiet") {
      out.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = arg + " is given as " + arg + " VALUE";  // a table option this parser does not spell
      return false;
    } else {
      out.positional.push_back(arg);
    }
  }
  return true;
}

bool ParseSectors(const std::string& text, uint64_t& value) { return ParseNumberArgument(text, value); }

std::string Now() {
  std::time_t t = std::time(nullptr);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
  return text;
}

std::string CommandLine(const std::vector<std::string>& args) {
  std::string line = "quorvel image";
  for (const std::string& arg : args) line += " " + arg;
  return line;
}

const char* PhaseText(RescuePhase phase) {
  switch (phase) {
    case RescuePhase::kCopying:
      return "copying";
    case RescuePhase::kTrimming:
      return "trimming";
    case RescuePhase::kScraping:
      return "scraping";
    case RescuePhase::kRetrying:
      return "retrying";
    case RescuePhase::kFinished:
      return "finished";
  }
  return "";
}

// The progress bar's text: the phase and pass, what is rescued, the bad
// areas and the read rate now, as ddrescue's status screen has them.
class BarText : public CopyObserver {
 public:
  explicit BarText(ScanProgress& progress) : progress_(progress) {}
  void Status(const RescueStatus& s) override {
    if (!progress_.sink) return;
    std::string text = PhaseText(s.phase);
    if (s.phase != RescuePhase::kFinished) text += " pass " + std::to_string(s.pass) + (s.forwards ? " fwd" : " back");
    text += ", rescued " + ByteSizeText(static_cast<double>(s.tally.finished)) + ", bad areas " +
            std::to_string(s.tally.badAreas) + ", " + ByteSizeText(s.currentRate) + "/s";
    progress_.sink->Text(text);
  }

 private:
  ScanProgress& progress_;
};

struct Report {
  std::string source, sourcePartition, target, targetPartition;
  uint64_t firstSector = 0, targetFirstSector = 0, sectors = 0, alreadyDone = 0;
  bool toDisk = false;
};

void PrintJson(const Report& r, const ImageCopyResult& copy) {
  std::printf("{\"source\":\"%s\",\"source_partition\":", JsonEscape(r.source).c_str());
  if (r.sourcePartition.empty())
    std::printf("null");
  else
    std::printf("\"%s\"", JsonEscape(r.sourcePartition).c_str());
  std::printf(",\"target\":\"%s\",\"target_partition\":", JsonEscape(r.target).c_str());
  if (r.targetPartition.empty())
    std::printf("null");
  else
    std::printf("\"%s\"", JsonEscape(r.targetPartition).c_str());
  std::printf(",\"first_sector\":%" PRIu64 ",\"target_first_sector\":%" PRIu64 ",\"sectors\":%" PRIu64
              ",\"copied\":%" PRIu64 ",\"already_done\":%" PRIu64 ",\"bad_sectors\":[",
              r.firstSector, r.targetFirstSector, r.sectors, copy.sectorsCopied, r.alreadyDone);
  // Streamed: a dead stretch of disk can list millions of sectors.
  bool first = true;
  for (const BadSectorRun& run : copy.badRuns) {
    for (uint64_t i = 0; i < run.count; ++i) {
      std::printf(first ? "%" PRIu64 : ",%" PRIu64, run.first + i);
      first = false;
    }
  }
  std::printf("],\"complete\":%s,\"stopped\":%s}\n", copy.Complete() ? "true" : "false",
              copy.stopped ? "true" : "false");
}

void PrintText(const Report& r, const ImageCopyResult& copy) {
  std::printf("镜像 %s%s%s -> %s%s%s\n", r.source.c_str(), r.sourcePartition.empty() ? "" : " ",
              r.sourcePartition.c_str(), r.target.c_str(), r.targetPartition.empty() ? "" : " ",
              r.targetPartition.c_str());
  std::printf("sectors: %" PRIu64 " (source sectors %" PRIu64 "..%" PRIu64 ", to %s sector %" PRIu64 ")\n", r.sectors,
              r.firstSector, r.firstSector + (r.sectors ? r.sectors - 1 : 0), r.toDisk ? "disk" : "file",
              r.targetFirstSector);
  std::printf("copied: %" PRIu64 "\n", copy.sectorsCopied);
  if (r.alreadyDone) std::printf("already done (mapfile): %" PRIu64 "\n", r.alreadyDone);
  std::printf("bad sectors: %" PRIu64 "\n", copy.badSectorCount);
  for (const BadSectorRun& run : copy.badRuns) {
    if (run.count == 1)
      std::printf("  %" PRIu64 "\n", run.first);
    else
      std::printf("  %" PRIu64 "-%" PRIu64 " (%" PRIu64 " sectors)\n", run.first, run.first + run.count - 1, run.count);
  }
  if (copy.Complete()) std::printf("%s\n", kImagingDone);
}

int Refused(const ImagingRefusal& refusal) {
  std::fprintf(stderr, "quorvel: %s\n", refusal.text);
  if (!refusal.detail.empty()) std::fprintf(stderr, "quorvel: %s\n", refusal.detail.c_str());
  return refusal.text == kImagingOutsideSource ? kExitUsage : kExitNotFound;
}

// Says why a mapfile cannot be used; the exit status.
int MapfileRefused(const MapfileLoad& load) {
  switch (load.problem) {
    case MapfileLoad::Problem::kOnSource:
      std::fprintf(stderr, "quorvel: %s\nquorvel: %s\n", kImagingTargetIsSource, load.detail.c_str());
      return kExitNotFound;
    case MapfileLoad::Problem::kUnreadable:
      std::fprintf(stderr, "quorvel: cannot use the mapfile: %s\n", load.detail.c_str());
      return kExitUsage;
    case MapfileLoad::Problem::kTargetLacks:
      std::fprintf(stderr, "quorvel: %s; give the image it belongs to, or remove the mapfile to start over\n",
                   load.detail.c_str());
      return kExitUsage;
    default:
      std::fprintf(stderr, "quorvel: %s\n", load.detail.c_str());
      return kExitUsage;
  }
}

int RunImage(const ParsedArgs& parsed) {
  ImageArgs a;
  std::string error;
  if (!ParseImageArgs(parsed.raw, Commands().at(kName).options, a, error)) return Usage(error);
  if (a.positional.empty()) return Usage("SOURCE is missing");
  if (a.positional.size() > 2) return Usage("unexpected argument \"" + a.positional[2] + "\"");
  if (a.haveToFile == a.haveToDisk) return Usage("give exactly one target: --to-file FILE or --to-disk TARGET");
  if (a.haveToFile && a.toFile.empty()) return Usage(kImagingNoFile);
  if (!a.haveToDisk && !a.targetStart.empty()) return Usage("--target-start goes with --to-disk");
  ImagingJob job;
  const struct {
    const char* flag;
    const std::string& text;
    uint64_t& value;
    uint64_t least;
  } sectorOptions[] = {{"--start", a.start, job.startSector, 0},
                       {"--count", a.count, job.sectorCount, 1},
                       {"--target-start", a.targetStart, job.targetStartSector, 0}};
  for (const auto& o : sectorOptions)
    if (!o.text.empty() && (!ParseSectors(o.text, o.value) || o.value < o.least))
      return Usage(NumberArgumentError(o.flag, o.text, o.least));
  ImagingRunOptions run;
  uint64_t number = 0;
  if (!a.retries.empty()) {
    if (!ParseNumberArgument(a.retries, number, 1000000))
      return Usage(NumberArgumentError("--retries", a.retries, 0, 1000000));
    run.rescue.retries = static_cast<int>(number);
  }
  if (!a.clusterSize.empty()) {
    if (!ParseNumberArgument(a.clusterSize, number, 131072) || number < 1)
      return Usage(NumberArgumentError("--cluster-size", a.clusterSize, 1, 131072));
    run.rescue.clusterBytes = number * kImagingSectorBytes;
  }
  run.rescue.reverse = a.reverse;

  DiskList sources, targets;
  DiskRecord* sourceDisk = nullptr;
  PartitionRecord* sourcePartition = nullptr;
  if (a.positional.size() == 2) {
    if (OpenSourcePartition(a.positional[0], a.positional[1], sources, sourceDisk, sourcePartition) != kExitDone)
      return kExitNotFound;
  } else if (OpenSource(a.positional[0], sources, sourceDisk) != kExitDone) {
    return kExitNotFound;
  }
  job.source = SelectionOf(*sourceDisk, sourcePartition);
  Report report;
  report.source = sourceDisk->devicePath;
  report.sourcePartition = sourcePartition ? sourcePartition->name : std::string();
  if (a.haveToDisk) {
    DiskRecord* targetDisk = nullptr;
    PartitionRecord* targetPartition = nullptr;
    int found = a.toDiskPartition.empty()
                    ? OpenSource(a.toDisk, targets, targetDisk)
                    : OpenSourcePartition(a.toDisk, a.toDiskPartition, targets, targetDisk, targetPartition);
    if (found != kExitDone) return kExitNotFound;
    job.toDisk = true;
    job.target = SelectionOf(*targetDisk, targetPartition);
    report.targetPartition = targetPartition ? targetPartition->name : std::string();
  } else {
    job.filePath = a.toFile;
  }

  // A mapfile that exists resumes: the image file must then be kept. A link
  // at its name is not followed (it would lead the rewrites elsewhere).
  struct stat mapStat {};
  if (!a.mapfile.empty() && ::lstat(a.mapfile.c_str(), &mapStat) == 0 && S_ISLNK(mapStat.st_mode)) {
    std::fprintf(stderr, "quorvel: the mapfile %s is a symbolic link (not followed: name the file itself)\n",
                 a.mapfile.c_str());
    return kExitNotFound;
  }
  job.keepTargetFile = !a.mapfile.empty() && ::stat(a.mapfile.c_str(), &mapStat) == 0;
  ImagingPlan plan;
  if (ImagingRefusal refusal = PlanImaging(job, plan)) return Refused(refusal);
  report.target = plan.targetPath;
  report.toDisk = job.toDisk;
  report.firstSector = plan.FirstSector();
  report.targetFirstSector = plan.targetPosition / kImagingSectorBytes;
  report.sectors = plan.Sectors();

  Mapfile map;
  bool resume = false;
  if (!a.mapfile.empty()) {
    MapfileLoad load = LoadMapfile(a.mapfile, plan, map);
    if (!load) return MapfileRefused(load);
    resume = load.resume;
    report.alreadyDone = map.FinishedBytes(plan.sourcePosition, plan.length) / kImagingSectorBytes;
    run.mapfilePath = a.mapfile;
    run.heading = {"Command line: " + CommandLine(parsed.raw), "Start time:   " + Now()};
  }
  if (!job.toDisk && !resume) {
    uint64_t freeBytes = FreeSpaceBytes(plan.targetPath.find('/') == std::string::npos
                                            ? "."
                                            : plan.targetPath.substr(0, plan.targetPath.find_last_of('/') + 1));
    if (freeBytes && freeBytes < plan.length)
      std::fprintf(stderr, "quorvel: warning: %" PRIu64 " bytes free where the image goes; it needs %" PRIu64 "\n",
                   freeBytes, plan.length);
  }

  ScanProgress progress;
  TerminalProgressBar bar(a.quiet || a.json);
  progress.sink = &bar;
  BarText barText(progress);
  InterruptStopsProgress interrupt(progress);
  ImagingOutcome outcome = RunImaging(plan, run, map, progress, &barText);
  bar.Close();
  const ImageCopyResult& copy = outcome.copy;
  switch (outcome.status) {
    case ImagingOutcome::Status::kSourceOpenFailed:
      std::fprintf(stderr, "quorvel: %s\nquorvel: %s\n", kImagingOpenFailed, outcome.error.c_str());
      return kExitNotFound;
    case ImagingOutcome::Status::kTargetOpenFailed:
      std::fprintf(stderr, "quorvel: %s\nquorvel: %s\n", kImagingTargetOpenFailed, outcome.error.c_str());
      return kExitNotFound;
    case ImagingOutcome::Status::kMapfileFailed:
      if (!copy.mapfileFailed) {  // the first save, before anything was copied
        std::fprintf(stderr, "quorvel: cannot write the mapfile: %s\n", outcome.error.c_str());
        return kExitNotFound;
      }
      break;
    default:
      break;
  }

  if (a.json)
    PrintJson(report, copy);
  else
    PrintText(report, copy);
  if (copy.writeFailed) {
    std::fprintf(stderr,
                 "quorvel: %s\nquorvel: writing %s failed: %s; the image is not complete (%" PRIu64 " of %" PRIu64
                 " sectors written)\n",
                 kImagingWriteFailed, plan.targetPath.c_str(), copy.writeError.c_str(), copy.sectorsWritten,
                 report.sectors - report.alreadyDone);
    return kExitNotFound;
  }
  if (copy.mapfileFailed) {
    std::fprintf(stderr, "quorvel: the mapfile %s could not be written: %s\n", a.mapfile.c_str(),
                 copy.mapfileError.c_str());
    return kExitNotFound;
  }
  if (copy.stopped) {
    std::fprintf(stderr, "quorvel: stopped; %" PRIu64 " sectors written, the image is not complete%s\n",
                 copy.sectorsWritten, a.mapfile.empty() ? "" : " (run again with the same --mapfile to resume)");
    return kExitStopped;
  }
  if (report.sectors && copy.sectorsCopied == 0 && report.alreadyDone == 0 && copy.badSectorCount == report.sectors) {
    std::fprintf(stderr, "quorvel: no sector of the source could be read\n");
    return kExitNotFound;
  }
  return kExitDone;
}

CommandRegistrar reg({
    kName,
    "image SOURCE [PARTITION] --to-file FILE | --to-disk TARGET [TARGET-PARTITION] [--start SECTOR] "
    "[--count SECTORS] [--target-start SECTOR] [--mapfile FILE] [--retries N] [--reverse] "
    "[--cluster-size SECTORS] [--json] [--quiet]",
    "copy a disk or one partition sector by sector to an image file or another disk",
    {{"SOURCE", "an image path, a device path, a disk number or a disk's identity text"},
     {"PARTITION",
      "copy only this partition (its name, mount point or 0-based index); without it the whole\n"
      "disk is copied"}},
    {{"--to-file", "FILE", "write a raw image file (created, or emptied first unless a mapfile resumes it)"},
     {"--to-disk", "TARGET",
      "write onto a disk, an existing image file used as a disk, or (with TARGET-PARTITION right\n"
      "after it) one partition of either; what is there is overwritten. A target on the source\n"
      "disk, or one with mounted file systems, is refused"},
     {"--start", "SECTOR", "first sector to copy, counted inside the source selection (default 0)"},
     {"--count", "SECTORS", "sectors to copy (default: to the end of the selection)"},
     {"--target-start", "SECTOR", "with --to-disk: where the copy lands, counted inside the target selection"},
     {"--mapfile", "FILE",
      "keep a GNU ddrescue mapfile of the rescue (source byte positions; '+' copied, '?' not tried,\n"
      "'*' non-trimmed, '/' non-scraped, '-' bad sector). When FILE already exists the rescue\n"
      "resumes where it stopped and the image file is not emptied; a mapfile ddrescue wrote is\n"
      "taken over the same way, and ddrescue can take over this one"},
     {"--retries", "N", "after scraping, try the bad sectors again in N passes, each the other way (default 0)"},
     {"--reverse", nullptr, "run every pass in the other direction (from the end of the range)"},
     {"--cluster-size", "SECTORS",
      "sectors read at a time while copying (default 128, 64 KiB, as ddrescue's); each failed\n"
      "read leaves that much to trim sector by sector"},
     {"--json", nullptr,
      "print the result as JSON: {\"source\",\"source_partition\",\"target\",\"target_partition\",\n"
      "\"first_sector\",\"target_first_sector\",\"sectors\",\"copied\",\"already_done\",\n"
      "\"bad_sectors\":[...],\"complete\",\"stopped\"}"},
     {"--quiet", nullptr, "no progress bar"}},
    "Exactly one target is given, never a default. The rescue reads what reads easily first: a\n"
    "copying pass in clusters that skips ahead after each failure, a pass the other way, then\n"
    "trimming (the failed clusters sector by sector from both edges), scraping (the rest sector by\n"
    "sector) and the retry passes. Each unreadable sector is listed and written as 512 bytes of 0x20\n"
    "so every later sector keeps its place. Ctrl-C stops after the current read; what was copied\n"
    "stays and the mapfile is written (exit 3).\n"
    "\n"
    "exit status: 0 the copy is complete (bad sectors, if any, are listed); 1 usage error or a range\n"
    "outside the source; 2 the source cannot be read, or the target is refused or cannot be written\n"
    "(the image is then not complete); 3 stopped\n",
    &RunImage,
    0,
    kAnyCount,
    true,
});

}  // namespace

}  // namespace quorvel::cli
