#include "driver/start_checks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "core/file_utils.h"
#include "driver/clip_reread.h"
#include "driver/path_kind.h"
#include "driver/start_refusals.h"
#include "driver/temp_files.h"
#include "platform/message_box.h"

namespace driver {

namespace {

// The files a clip's encoding writes into the output folder and later deletes.
constexpr const char* kTemporaryNames[] = {kClipVideoName, kClipMp2Name, kClipAc3Name,
                                           kClipVobName};

void ShowError(const std::string& text) {
    platform::ShowMessageBox(text, "Error", platform::MB_ICONERROR);
}

// Shows the problem, when there is one, in a box of its own.
bool Refuses(const std::string& problem, const char* caption) {
    if (problem.empty()) return false;
    platform::ShowMessageBox(problem, caption, platform::MB_ICONERROR);
    return true;
}

bool AskYesNo(const std::string& question) {
    return platform::ShowMessageBox(question, "Confirm To Cancel",
                                    platform::MB_YESNO | platform::MB_ICONQUESTION) ==
           platform::IDYES;
}

// The path with every link and "." or ".." resolved as far as it exists, so two names of one
// file compare equal.
std::filesystem::path CanonicalPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path) : canonical;
}

bool IsInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    const auto [pathPart, folderPart] = std::mismatch(path.begin(), path.end(), folder.begin(),
                                                      folder.end());
    return folderPart == folder.end() && pathPart != path.end();
}

// A clip the job could not turn into a chapter: gone since it was added, unreadable, or
// without a picture (sound only, subtitles only).
bool CheckClipUsable(const reader::ClipRecord& clip) {
    const std::string failure = reader::FileProblem(clip.Path);
    if (!failure.empty()) {
        ShowError("The clip " + clip.Path + " cannot be read:\n" + failure +
                  "\n\nPlease remove it from the list.");
        return false;
    }
    if (clip.HasVideo == 0) {
        ShowError("The clip " + clip.Path + " holds no picture stream, so it cannot become a "
                  "chapter of the DVD.\n\nPlease remove it from the list.");
        return false;
    }
    return true;
}

// A clip whose file changed since it was added is read again; one that can no longer be read
// would fail the job only once the clips before it are encoded.
bool RereadIfChanged(reader::ClipRecord& clip) {
    if (!clip.FileChangedSinceProbe()) return true;
    std::string failure;
    if (RereadClip(clip, failure)) return true;
    ShowError("The clip " + clip.Path + " changed since it was added and can no longer be read:\n" +
              failure + "\n\nPlease remove it from the list.");
    return false;
}

bool CheckClipList(std::vector<reader::ClipRecord>& clips) {
    if (clips.empty()) {
        platform::ShowMessageBox("Please add source clip first.", "No source",
                                 platform::MB_ICONWARNING);
        return false;
    }
    if (clips.size() > kMaxClipsPerDisc) {
        platform::ShowMessageBox(core::FormatString("A DVD title holds at most %d chapters, one "
                                                    "per clip; please remove clips until %d "
                                                    "remain.",
                                                    int(kMaxClipsPerDisc), int(kMaxClipsPerDisc)),
                                 "Too many clips", platform::MB_ICONWARNING);
        return false;
    }
    for (reader::ClipRecord& clip : clips) {
        if (!RereadIfChanged(clip)) return false;
    }
    if (Refuses(ListLengthProblem(clips), "List too long")) return false;
    return std::all_of(clips.begin(), clips.end(), CheckClipUsable);
}

// The paths of the job's temporary files for as many clips, in the order they are made.
std::vector<std::string> TemporaryPaths(const std::string& folder, std::size_t clipCount) {
    std::vector<std::string> paths;
    for (std::size_t index = 0; index < clipCount; ++index) {
        for (const char* pattern : kTemporaryNames) {
            paths.push_back(core::PathInFolder(folder, core::FormatString(pattern, int(index))));
        }
    }
    return paths;
}

bool CheckOutputFolder(const std::string& folder, const std::vector<reader::ClipRecord>& clips) {
    // A relative or empty folder would put the "DVD" folder (which may get emptied) wherever
    // the process happens to stand, or at the file-system root.
    if (core::SkipPathRoot(folder.c_str()) == nullptr) {
        ShowError(RelativeOutputFolderProblem(folder));
        return false;
    }
    // The job writes and later deletes its temporary files in the output folder; a source
    // clip under one of those names would be overwritten while it is read.
    const std::vector<std::string> temporaryPaths = TemporaryPaths(folder, clips.size());
    if (Refuses(LinkedTemporaryProblem(temporaryPaths), "Error")) return false;
    std::set<std::filesystem::path> temporaries;
    for (const std::string& path : temporaryPaths) temporaries.insert(CanonicalPath(path));
    // The "DVD" folder is emptied before the job and written by it.
    const std::string dvdFolder = core::PathInFolder(folder, kDvdFolderName);
    if (Refuses(DiscFolderProblem(dvdFolder), "Error") ||
        Refuses(DiscFolderAccessProblem(dvdFolder), "Error")) {
        return false;
    }
    const std::filesystem::path canonicalDvdFolder = CanonicalPath(dvdFolder);
    for (const reader::ClipRecord& clip : clips) {
        const std::filesystem::path source = CanonicalPath(clip.Path);
        if (temporaries.count(source) != 0) {
            ShowError("The source clip " + clip.Path + " has the name of a temporary file of "
                      "the job; please choose another output folder.");
            return false;
        }
        if (IsInside(source, canonicalDvdFolder)) {
            ShowError("The source clip " + clip.Path + " lies in the folder " + dvdFolder +
                      ", which is emptied before the DVD is made; please move the clip or "
                      "choose another output folder.");
            return false;
        }
    }
    return true;
}

bool LockOutputFolder(const std::string& folder, OutputLock& lock) {
    switch (lock.Acquire(folder)) {
        case OutputLock::Outcome::Held: return true;
        case OutputLock::Outcome::Busy:
            platform::ShowMessageBox("Another job is already making a DVD in the output folder \"" +
                                         folder + "\".\n\nPlease wait until it has finished, or "
                                         "choose another output folder.",
                                     "Output folder in use", platform::MB_ICONWARNING);
            return false;
        case OutputLock::Outcome::Failed: break;
    }
    ShowError("Can not write into the output folder \"" + folder + "\": " +
              std::strerror(errno) + ".");
    return false;
}

// Anything but a folder under that name would be replaced by the job's file (a folder makes
// the job fail instead, which it reports then).
bool WouldBeOverwritten(const std::string& path) {
    const PathKind kind = KindOf(path);
    return kind != PathKind::Missing && kind != PathKind::Folder;
}

// Files of the user's under the names the job writes would be overwritten and deleted.
bool ConfirmTemporaryFiles(const std::string& folder, std::size_t clipCount) {
    std::vector<std::string> existing;
    for (const std::string& path : TemporaryPaths(folder, clipCount)) {
        if (WouldBeOverwritten(path)) {
            existing.push_back(std::filesystem::path(path).filename().string());
        }
    }
    if (existing.empty()) return true;
    return AskYesNo("The output directory \"" + folder + "\" already holds these files, which " +
                    "the job will overwrite:\n\n" + core::ListForMessage(existing) +
                    "\n\ndo you want to continue?");
}

// Offers to empty a "DVD" folder that holds files, and empties it; false when the user
// declines or a file stays (an old titleset left there would become part of the new disc).
bool EmptyDiscFolder(const std::string& folder) {
    const std::string dvdFolder = core::PathInFolder(folder, kDvdFolderName);
    if (!core::IsDirectory(dvdFolder.c_str()) || core::DirectoryTreeHasNoFiles(dvdFolder.c_str())) {
        return true;
    }
    if (!AskYesNo("The output directory \"" + dvdFolder + "\" already exists,\n\nthe contents " +
                  "in it will be deleted first,\n\ndo you want to continue?")) {
        return false;
    }
    core::DeleteFailure failure;
    if (core::DeleteDirectoryTree(dvdFolder.c_str(), &failure) == 1) return true;
    ShowError(DiscFolderNotEmptiedProblem(dvdFolder, failure));
    return false;
}

bool CreateOutputFolder(const std::string& folder) {
    if (core::CreateDirectoryTree(folder.c_str())) return true;
    ShowError(OutputFolderNotCreatedProblem(folder, errno));
    return false;
}

// The steps that touch the output folder, once every check has passed. A folder that does not
// exist yet holds nothing to ask about or delete, and no other job's lock.
bool LockAndPrepareFolder(const std::vector<reader::ClipRecord>& clips, const std::string& folder,
                          OutputLock& lock) {
    if (!core::IsDirectory(folder.c_str())) {
        return CreateOutputFolder(folder) && LockOutputFolder(folder, lock);
    }
    return LockOutputFolder(folder, lock) &&
           !Refuses(RunningJobProblem(core::PathInFolder(folder, kDvdFolderName)),
                    "Output folder in use") &&
           ConfirmTemporaryFiles(folder, clips.size()) && EmptyDiscFolder(folder);
}

}  // namespace

bool PrepareJobOutput(std::vector<reader::ClipRecord>& clips, const std::string& folder,
                      OutputLock& lock) {
    if (!CheckClipList(clips) || !CheckOutputFolder(folder, clips)) return false;
    if (LockAndPrepareFolder(clips, folder, lock)) return true;
    lock.Release();
    return false;
}

}  // namespace driver
