#include "FilesStore.h"

#include "../SondrelCore/FixtureFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sondrel::app {
namespace {

using StatusCounts = FilesStore::StatusCounts;

AudioFile makeFile(ScanStatus status = ScanStatus::pending())
{
    AudioFile file("/library/track.mp3", core::AudioFormat::mp3, 1000, {});
    file.setStatus(std::move(status));
    return file;
}

core::AnalysisResult resultWithCutoff(float cutoff)
{
    core::AnalysisResult result;
    result.cutoffFrequency = cutoff;
    return result;
}

const core::UserOverride kOverride { true, core::QualityRating::high, {} };

StatusCounts recount(const std::vector<AudioFile>& files)
{
    StatusCounts counts;
    for (const AudioFile& file : files)
        counts.increment(file.status());
    return counts;
}

TEST(StatusCountsTest, EachStatusHasItsOwnCounterThatNeverGoesNegative)
{
    StatusCounts counts;
    const std::vector<ScanStatus> statuses = { ScanStatus::passed(), ScanStatus::failed(),
        ScanStatus::failed(), ScanStatus::error("a"), ScanStatus::error("b"), ScanStatus::error("c"),
        ScanStatus::pending(), ScanStatus::pending(), ScanStatus::pending(), ScanStatus::pending() };
    for (const ScanStatus& status : statuses)
        counts.increment(status);
    for (double progress : { 0.0, 0.1, 0.2, 0.3, 0.4 })
        counts.increment(ScanStatus::scanning(progress));
    EXPECT_EQ(counts, (StatusCounts { 1, 2, 3, 4, 5 }));
    EXPECT_EQ(counts.count(ScanStatus::Kind::error), 3);

    counts.decrement(ScanStatus::passed());
    counts.decrement(ScanStatus::passed());
    EXPECT_EQ(counts.passed, 0);
}

// Random operations on present and absent identifiers. With a model (a plain map of what the
// store should hold) each one is mirrored there as the store's contract describes it.
class RandomOperations {
public:
    RandomOperations(unsigned seed, std::vector<QUuid> known)
        : m_random(seed)
        , m_known(std::move(known))
    {
    }

    void step(FilesStore& store, std::map<QUuid, AudioFile>* model)
    {
        const QUuid id = randomId();
        const ScanStatus status = randomStatus();
        const std::optional<core::AnalysisResult> result
            = pick(3) ? std::optional(resultWithCutoff(static_cast<float>(pick(20000)))) : std::nullopt;
        auto present = [&] { return model && model->contains(id); };
        switch (pick(9)) {
        case 0: {
            // A fresh record, or a known one again with another status.
            std::optional<AudioFile> file = pick(2) ? store.file(id) : std::nullopt;
            if (!file)
                file = makeFile();
            file->setStatus(status);
            m_known.push_back(file->id());
            if (model)
                model->insert_or_assign(file->id(), *file);
            store.addFiles({ *file });
            break;
        }
        case 1: {
            const QSet<QUuid> ids = { id, randomId(), QUuid::createUuid() };
            for (const QUuid& each : ids) {
                if (model)
                    model->erase(each);
            }
            store.removeFiles(ids);
            break;
        }
        case 2:
        case 3:
            if (present())
                model->at(id).setStatus(status);
            store.updateStatus(id, status);
            break;
        case 4:
            if (present()) {
                model->at(id).setStatus(status);
                model->at(id).setResult(result);
            }
            store.updateFileAnalysis(id, status, result);
            break;
        case 5: {
            const std::optional<core::UserOverride> userOverride
                = pick(2) ? std::optional(kOverride) : std::nullopt;
            if (present())
                model->at(id).setUserOverride(userOverride);
            store.updateOverride(id, userOverride);
            break;
        }
        case 6:
            if (present()) {
                model->at(id).setStatus(ScanStatus::pending());
                model->at(id).setResult(std::nullopt);
            }
            store.resetToPending({ id, id });
            break;
        case 7: {
            const bool wasPresent = present();
            const std::optional<QUuid> newId = store.replaceFile(id, "/library/renamed.mp3", result, status);
            if (model) {
                ASSERT_EQ(newId.has_value(), wasPresent);
            }
            if (!newId)
                break;
            m_known.push_back(*newId);
            if (model) {
                model->erase(id);
                AudioFile expected = *store.file(*newId);
                EXPECT_EQ(expected.url(), "/library/renamed.mp3");
                EXPECT_EQ(expected.status(), status);
                EXPECT_EQ(expected.result(), result);
                EXPECT_FALSE(expected.userOverride());
                model->insert_or_assign(*newId, expected);
            }
            break;
        }
        default:
            if (pick(20) == 0) {
                if (model)
                    model->clear();
                store.clear();
            }
        }
    }

private:
    std::size_t pick(std::size_t bound)
    {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(m_random);
    }

    ScanStatus randomStatus()
    {
        switch (pick(5)) {
        case 0:
            return ScanStatus::pending();
        case 1:
            return ScanStatus::scanning(static_cast<double>(pick(2)) / 2);
        case 2:
            return ScanStatus::passed();
        case 3:
            return ScanStatus::failed();
        default:
            return ScanStatus::error(pick(2) ? "No such file or directory" : "Invalid data");
        }
    }

    // Mostly identifiers the store has seen, sometimes one it never saw.
    QUuid randomId()
    {
        return m_known.empty() || pick(5) == 0 ? QUuid::createUuid() : m_known[pick(m_known.size())];
    }

    std::mt19937 m_random;
    std::vector<QUuid> m_known;
};

TEST(FilesStoreTest, RandomOperationsKeepTheCountsEqualToARecount)
{
    for (const unsigned seed : { 1u, 2u, 3u }) {
        FilesStore store;
        std::map<QUuid, AudioFile> model;
        RandomOperations operations(seed, {});
        for (int step = 0; step < 1000; ++step) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", step " + std::to_string(step));
            operations.step(store, &model);
            std::vector<AudioFile> records = store.snapshot();
            ASSERT_EQ(store.counts(), recount(records));
            std::sort(
                records.begin(), records.end(), [](const auto& a, const auto& b) { return a.id() < b.id(); });
            std::vector<AudioFile> expected;
            for (const auto& [id, file] : model)
                expected.push_back(file);
            ASSERT_EQ(records, expected);
        }
    }
}

TEST(FilesStoreTest, ConcurrentOperationsOnTheSameRecordsKeepTheCountsEqualToARecount)
{
    FilesStore store;
    std::vector<QUuid> ids;
    for (int i = 0; i < 50; ++i) {
        const AudioFile file = makeFile();
        ids.push_back(file.id());
        store.addFiles({ file });
    }

    std::vector<std::thread> threads;
    for (unsigned seed = 10; seed < 14; ++seed) {
        threads.emplace_back([&store, &ids, seed] {
            RandomOperations operations(seed, ids);
            for (int step = 0; step < 500; ++step)
                operations.step(store, nullptr);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(store.counts(), recount(store.snapshot()));
}

AudioFile fileAt(const std::string& path)
{
    return AudioFile(path, core::AudioFormat::mp3, 1000, {});
}

std::vector<std::string> paths(const std::vector<AudioFile>& files)
{
    std::vector<std::string> result;
    for (const AudioFile& file : files)
        result.push_back(file.url().string());
    return result;
}

// A replacement is a new record built from the new location, in the old one's place; removals
// keep the order of the rest.
TEST(FilesStoreOrderTest, AReplacementIsANewRecordOfTheNewLocationInTheOldOnesPlace)
{
    test::FixtureFolder folder;
    const std::filesystem::path location = folder / "track fake-128.wav";
    std::ofstream(location, std::ios::binary) << std::string(2048, 'x');
    FilesStore store;
    std::vector<AudioFile> files;
    for (const char* name : { "/l/c.mp3", "/l/a.mp3", "/l/d.mp3", "/l/b.mp3" })
        files.push_back(fileAt(name));
    const AudioFile& old = files[1];
    files[1].setStatus(ScanStatus::failed());
    files[1].setUserOverride(kOverride);
    store.addFiles(files);

    const std::optional<QUuid> id
        = store.replaceFile(old.id(), location, resultWithCutoff(15500.0f), ScanStatus::passed());
    store.removeFiles({ files[2].id() });

    ASSERT_TRUE(id);
    EXPECT_FALSE(store.file(old.id()));
    const AudioFile replacement = *store.file(*id);
    EXPECT_NE(replacement.id(), old.id());
    EXPECT_EQ(replacement.url(), location);
    EXPECT_EQ(replacement.format(), core::AudioFormat::wav);
    EXPECT_EQ(replacement.fileSize(), 2048);
    EXPECT_EQ(replacement.result(), resultWithCutoff(15500.0f));
    EXPECT_FALSE(replacement.userOverride());
    EXPECT_EQ(store.counts(), (StatusCounts { 1, 0, 0, 2, 0 }));
    EXPECT_EQ(
        paths(store.snapshot()), (std::vector<std::string> { "/l/c.mp3", location.string(), "/l/b.mp3" }));
}

// Replacing inserts into the index while the old entry is still needed: every size a store goes
// through must keep the records and counts whole (a rehash used to leave a dangling iterator).
TEST(FilesStoreOrderTest, ReplacingAtEverySizeKeepsRecordsAndCounts)
{
    test::FixtureFolder folder;
    std::ofstream(folder / "new.mp3") << "x";
    for (int size = 1; size <= 40; ++size) {
        FilesStore store;
        std::vector<AudioFile> files;
        for (int i = 0; i < size; ++i)
            files.push_back(fileAt("/l/" + std::to_string(i) + ".mp3"));
        store.addFiles(files);
        for (const AudioFile& file : files)
            ASSERT_TRUE(store.replaceFile(file.id(), folder / "new.mp3", std::nullopt, ScanStatus::passed()));
        EXPECT_EQ(store.counts(), (StatusCounts { size, 0, 0, 0, 0 }));
        EXPECT_EQ(store.snapshot().size(), static_cast<std::size_t>(size));
    }
}

TEST(FilesStoreOrderTest, ChangesSinceARevisionBringACopyUpToDate)
{
    FilesStore store;
    const std::vector<AudioFile> files { fileAt("/l/a.mp3"), fileAt("/l/b.mp3"), fileAt("/l/c.mp3") };
    store.addFiles(files);
    const FilesStore::Changes first = store.changesSince(0);
    EXPECT_FALSE(first.reset);
    ASSERT_EQ(first.changed.size(), 3u);

    store.updateStatus(files[2].id(), ScanStatus::passed());
    store.removeFiles({ files[0].id() });
    store.addFiles({ fileAt("/l/d.mp3") });
    const FilesStore::Changes second = store.changesSince(first.revision);
    EXPECT_EQ(second.removed, std::vector<QUuid> { files[0].id() });
    ASSERT_EQ(second.changed.size(), 2u);
    EXPECT_EQ(second.changed[0].position, 1u);
    EXPECT_EQ(second.changed[0].file.status(), ScanStatus::passed());
    EXPECT_EQ(second.changed[1].position, 2u);

    EXPECT_TRUE(store.changesSince(second.revision).changed.empty());
    store.clear();
    store.addFiles({ fileAt("/l/e.mp3") });
    const FilesStore::Changes afterClear = store.changesSince(second.revision);
    EXPECT_TRUE(afterClear.reset);
    EXPECT_EQ(afterClear.changed.size(), 1u);
}

TEST(FilesStoreOrderTest, ManyBatchesKeepTheirOrderAndEveryRecordStaysFindable)
{
    FilesStore store;
    std::vector<QUuid> ids;
    for (int batch = 0; batch < 300; ++batch) {
        std::vector<AudioFile> files;
        for (int i = 0; i < 37; ++i)
            files.push_back(fileAt("/l/" + std::to_string(batch * 37 + i) + ".mp3"));
        for (const AudioFile& file : files)
            ids.push_back(file.id());
        store.addFiles(std::move(files));
    }
    const std::vector<AudioFile> all = store.snapshot();
    ASSERT_EQ(all.size(), ids.size());
    for (std::size_t i = 0; i < all.size(); i += 97) {
        EXPECT_EQ(all[i].id(), ids[i]);
        EXPECT_EQ(store.file(ids[i])->url(), "/l/" + std::to_string(i) + ".mp3");
    }
    EXPECT_EQ(store.counts().pending, static_cast<int>(ids.size()));
}

TEST(FilesStoreOrderTest, AnUpdateThatChangesNothingIsNoChangeForTheCopies)
{
    FilesStore store;
    const std::vector<AudioFile> files { fileAt("/l/a.mp3"), fileAt("/l/b.mp3") };
    store.addFiles(files);
    store.updateFileAnalysis(files[0].id(), ScanStatus::passed(), resultWithCutoff(20000.0f));
    store.updateOverride(files[0].id(), kOverride);
    const std::uint64_t revision = store.changesSince(0).revision;

    // The verdict a record already shows, applied again, as a scan from the cache does.
    store.updateFileAnalysis(files[0].id(), ScanStatus::passed(), resultWithCutoff(20000.0f));
    store.updateOverride(files[0].id(), kOverride);
    store.resetToPending({ files[1].id() });
    EXPECT_TRUE(store.changesSince(revision).changed.empty());

    store.updateFileAnalysis(files[0].id(), ScanStatus::failed(), resultWithCutoff(20000.0f));
    EXPECT_EQ(store.changesSince(revision).changed.size(), 1u);
    EXPECT_EQ(store.counts(), (StatusCounts { 0, 1, 0, 1, 0 }));
}

} // namespace
} // namespace sondrel::app
