#include "Processing.h"

#include "AnalysisCache.h"
#include "MixxxLibrary.h"
#include "PathText.h"

#include <ostream>
#include <utility>

#include <sys/stat.h>

namespace sondrel::app {
namespace {

bool isFailed(const AudioFile& file)
{
    return file.status().kind() == ScanStatus::Kind::failed;
}

bool breaksLinks(const ProcessingRequest& request)
{
    return request.rename || (request.move && request.destination) || request.trash;
}

// Whether a file in `folder` is already where a move into `destination` would put it.
bool isSameFolder(const std::filesystem::path& folder, const std::filesystem::path& destination)
{
    struct stat a { };
    struct stat b { };
    return ::stat(folder.c_str(), &a) == 0 && ::stat(destination.c_str(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
}

// "Rename: ", the file's path, ": " and the system's text.
std::string errorLine(const char* step, const AudioFile& file, const Error& error)
{
    return std::string(step) + core::json::validUtf8(file.url().string()) + ": " + error.description;
}

// The failed files that the crate takes: a file the user marked DJ ready stays out.
std::vector<std::filesystem::path> crateCandidates(const std::vector<AudioFile>& files)
{
    std::vector<std::filesystem::path> paths;
    for (const AudioFile& file : files) {
        if (isFailed(file) && !(file.userOverride() && file.userOverride()->djReady))
            paths.push_back(file.url());
    }
    return paths;
}

// "crate: PATH", with a note for a file already in the crate or unknown to Mixxx.
void planMixxxCrate(
    const MixxxCrateRequest& crate, const std::vector<AudioFile>& files, std::vector<std::string>& lines)
{
    auto outcome
        = MixxxLibrary(crate.database, crate.processes).planCrate(crate.name, crateCandidates(files));
    if (!outcome) {
        lines.push_back("crate: " + outcome.error().description);
        return;
    }
    const auto list = [&](const std::vector<std::filesystem::path>& paths, const char* note) {
        for (const auto& path : paths)
            lines.push_back("crate: " + core::json::validUtf8(path.string()) + note);
    };
    list(outcome->added, "");
    list(outcome->alreadyInCrate, " (already in the crate)");
    list(outcome->unknown, " (Not in the Mixxx library)");
}

std::vector<AudioFile> inScope(const std::vector<AudioFile>& files, const std::optional<QSet<QUuid>>& scope)
{
    std::vector<AudioFile> chosen;
    for (const AudioFile& file : files) {
        if (!scope || scope->contains(file.id()))
            chosen.push_back(file);
    }
    return chosen;
}

} // namespace

std::vector<std::string> ProcessingResults::lines() const
{
    std::vector<std::string> text { interrupted ? "Processing Interrupted"
            : hasIssues()                       ? "Processing Complete with Issues"
                                                : "Processing Complete" };
    const auto count = [&](int n, const char* what) {
        if (n != 0)
            text.push_back(std::to_string(n) + what);
    };
    count(crateAddedCount, " files added to Mixxx crate");
    count(renamedCount, " files renamed");
    count(movedCount, " files moved");
    count(deletedCount, " files moved to Trash");
    count(metadataUpdatedCount, " files updated");
    count(metadataFailedCount, " metadata updates failed");
    if (!errors.empty()) {
        text.emplace_back("Errors");
        text.insert(text.end(), errors.begin(), errors.end());
    }
    if (!metadataFailures.empty()) {
        text.emplace_back("Metadata update failures");
        text.insert(text.end(), metadataFailures.begin(), metadataFailures.end());
    }
    if (!notInMixxxLibrary.empty()) {
        text.emplace_back("Not in the Mixxx library");
        text.insert(text.end(), notInMixxxLibrary.begin(), notInMixxxLibrary.end());
    }
    if (!keptFiles.empty()) {
        text.emplace_back("Kept: marked DJ ready");
        text.insert(text.end(), keptFiles.begin(), keptFiles.end());
    }
    return text;
}

bool Processing::isKeptByUser(const AudioFile& file) noexcept
{
    return file.userOverride() && file.userOverride()->djReady;
}

bool Processing::isProcessable(const AudioFile& file) noexcept
{
    return isFailed(file) && !isKeptByUser(file);
}

std::optional<std::filesystem::path> Processing::markedName(const AudioFile& file)
{
    if (!file.result())
        return std::nullopt;
    const std::filesystem::path& url = file.url();
    const std::string base = url.stem().string();
    // Case-sensitive: "Fake-Intro" is not marked yet.
    if (base.find("fake-") != std::string::npos)
        return std::nullopt;
    return url.parent_path()
        / (base + " fake-" + std::to_string(file.result()->estimatedBitrate) + url.extension().string());
}

void Processing::replaceRecord(AudioFile& file, const std::filesystem::path& newUrl, const ScanStatus& status)
{
    const auto newId = m_store.replaceFile(file.id(), newUrl, file.result(), status);
    if (!newId)
        return;
    // The user's verdict belongs to the file, wherever it now is.
    if (file.userOverride())
        m_store.updateOverride(*newId, file.userOverride());
    if (auto record = m_store.file(*newId))
        file = std::move(*record);
    recache(file);
}

void Processing::recache(const AudioFile& file)
{
    if (!m_cache || !file.result())
        return;
    m_cache->set(file.url(), *file.result());
    if (file.userOverride())
        m_cache->setOverride(file.url(), *file.userOverride());
    m_cacheChanged = true;
}

void Processing::addToMixxxCrate(
    const std::vector<AudioFile>& files, const MixxxCrateRequest& crate, ProcessingResults& results)
{
    auto outcome
        = MixxxLibrary(crate.database, crate.processes).addToCrate(crate.name, crateCandidates(files));
    if (!outcome) {
        results.errors.push_back("Mixxx crate: " + outcome.error().description);
        return;
    }
    results.crateAddedCount = static_cast<int>(outcome->added.size());
    for (const auto& path : outcome->unknown)
        results.notInMixxxLibrary.push_back(core::json::validUtf8(path.string()));
}

Processing::Step Processing::renameFailedFiles(std::vector<AudioFile>& files)
{
    Step step;
    for (AudioFile& file : files) {
        if (!isProcessable(file))
            continue;
        const auto target = markedName(file);
        if (!target)
            continue;
        const MoveStatus moved = m_operations.moveItem(file.url(), *target);
        if (!moved) {
            step.error = errorLine("Rename: ", file, moved.error());
            return step;
        }
        replaceRecord(file, *target, ScanStatus::failed());
        ++step.done;
    }
    return step;
}

Processing::Step Processing::moveFailedFiles(
    std::vector<AudioFile>& files, const std::filesystem::path& destination)
{
    Step step;
    for (AudioFile& file : files) {
        if (!isProcessable(file) || isSameFolder(file.url().parent_path(), destination))
            continue;
        auto moved = moveWithNumbering(m_operations, file.url(), destination);
        if (!moved) {
            step.error = errorLine("Move: ", file, moved.error());
            return step;
        }
        replaceRecord(file, *moved, file.status());
        ++step.done;
    }
    return step;
}

Processing::Step Processing::deleteFailedFiles(std::vector<AudioFile>& files)
{
    return trash(files, true);
}

std::pair<int, std::optional<std::string>> Processing::deleteFiles(std::vector<AudioFile> files)
{
    Step step = trash(files, false);
    return { step.done, step.error };
}

std::pair<int, std::vector<std::string>> Processing::updateFileMetadata(const AudioFile& file)
{
    if (!file.result())
        return { 0, {} };
    if (!m_editor.updateBitrate(file.url(), file.result()->estimatedBitrate))
        return { 0, { file.url().filename().string() } };
    recache(file);
    flushCache();
    return { 1, {} };
}

Processing::Step Processing::trash(std::vector<AudioFile>& files, bool onlyFailed)
{
    Step step;
    QSet<QUuid> trashed;
    std::vector<AudioFile> kept;
    for (AudioFile& file : files) {
        if (step.error || (onlyFailed && !isProcessable(file))) {
            kept.push_back(std::move(file));
            continue;
        }
        if (Status status = m_operations.trashItem(file.url()); !status) {
            step.error = errorLine("Delete: ", file, status.error());
            kept.push_back(std::move(file));
            continue;
        }
        trashed.insert(file.id());
        ++step.done;
    }
    // Also after a failure part-way: the files already in the Trash are gone from the library.
    m_store.removeFiles(trashed);
    files = std::move(kept);
    return step;
}

void Processing::updateMetadata(
    const std::vector<AudioFile>& files, const std::atomic<bool>* stop, ProcessingResults& results)
{
    std::vector<const AudioFile*> work;
    for (const AudioFile& file : files) {
        if (file.result())
            work.push_back(&file);
    }
    for (std::size_t i = 0; i < work.size(); ++i) {
        // Checked between files only: the file being written is always finished.
        if (stop && stop->load()) {
            results.interrupted = true;
            break;
        }
        const AudioFile& file = *work[i];
        std::optional<std::string> reason;
        if (!MetadataEditor::supports(file.url()))
            reason = "not an MP3 file";
        else if (Status written = m_editor.updateBitrate(file.url(), file.result()->estimatedBitrate);
                 !written)
            reason = written.error().description;
        if (reason) {
            ++results.metadataFailedCount;
            results.metadataFailures.push_back(core::json::validUtf8(file.url().string()) + ": " + *reason);
        } else {
            ++results.metadataUpdatedCount;
            // New size and time: without this the cache would forget the file's verdict.
            recache(file);
        }
        m_progress << "Metadata update: " << i + 1 << '/' << work.size() << std::endl;
        if (m_onProgress)
            m_onProgress(static_cast<int>(i + 1), static_cast<int>(work.size()));
    }
}

ProcessingResults Processing::run(const ProcessingRequest& request, const std::vector<AudioFile>& library)
{
    ProcessingResults results;
    std::vector<AudioFile> files = inScope(library, request.scope);
    if (breaksLinks(request)) {
        for (const AudioFile& file : files) {
            if (isFailed(file) && isKeptByUser(file))
                results.keptFiles.push_back(core::json::validUtf8(file.url().string()));
        }
    }
    const auto record = [&](const Step& step, int& count) {
        count = step.done;
        if (step.error)
            results.errors.push_back(*step.error);
    };
    // First, while the paths are still the ones Mixxx knows.
    if (request.crate)
        addToMixxxCrate(files, *request.crate, results);
    if (request.rename)
        record(renameFailedFiles(files), results.renamedCount);
    if (request.move && request.destination)
        record(moveFailedFiles(files, *request.destination), results.movedCount);
    if (request.trash)
        record(deleteFailedFiles(files), results.deletedCount);
    if (request.updateTags)
        updateMetadata(files, request.stopTagging, results);
    flushCache();
    return results;
}

void Processing::flushCache()
{
    // The command line ends right after a run: the moved verdicts must be on disk by then.
    if (m_cache && std::exchange(m_cacheChanged, false))
        m_cache->flush();
}

std::vector<std::string> Processing::plan(
    const ProcessingRequest& request, const std::vector<AudioFile>& library)
{
    std::vector<std::string> lines;
    std::vector<AudioFile> files = inScope(library, request.scope);
    // Where each file would be after the steps before, so later lines name the right file.
    if (request.crate)
        planMixxxCrate(*request.crate, files, lines);
    std::vector<std::filesystem::path> where;
    for (const AudioFile& file : files)
        where.push_back(file.url());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!isFailed(files[i]))
            continue;
        if (isKeptByUser(files[i])) {
            if (breaksLinks(request))
                lines.push_back("keep: " + core::json::validUtf8(where[i].string()) + " (marked DJ ready)");
            continue;
        }
        if (request.rename) {
            if (auto target = markedName(files[i])) {
                lines.push_back("rename: " + core::json::validUtf8(where[i].string()) + " -> "
                    + PathText::lastPathComponent(*target));
                where[i] = *target;
            }
        }
        if (request.move && request.destination
            && !isSameFolder(where[i].parent_path(), *request.destination)) {
            const auto target = *request.destination / where[i].filename();
            lines.push_back("move: " + core::json::validUtf8(where[i].string()) + " -> "
                + core::json::validUtf8(target.string())
                + (std::filesystem::exists(target) ? " (numbered: the name is taken)" : ""));
            where[i] = target;
        }
        if (request.trash)
            lines.push_back("trash: " + core::json::validUtf8(where[i].string()));
    }
    if (request.updateTags) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (const auto& result = files[i].result())
                lines.push_back("tag: " + core::json::validUtf8(where[i].string())
                    + " (Detected bitrate: " + std::to_string(result->estimatedBitrate) + " kbps)");
        }
    }
    return lines;
}

} // namespace sondrel::app
