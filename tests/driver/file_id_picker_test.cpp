// The free-ID choice: IDs this process freed come last (the longest freed first), the others
// next-fit after the highest ID in use, wrapping; a full range still gives every free ID.
#include <gtest/gtest.h>

#include <vector>

#include "driver/file_id_picker.h"
#include "driver/storage_types.h"

namespace {

namespace fileid = qel::fileid;

struct Case {
    const char* name;
    long first;
    long last;
    std::vector<long> used;
    std::vector<long> freed;  // in the order this process deleted them
    std::vector<long> expected;  // empty: no allocation
    size_t count;
};

TEST(FileIdPicker, FreedHereLastOthersNextFitAfterTheHighestInUse)
{
    const long pub = fileid::kPublicFirst;
    const long top = fileid::kPublicLast;
    const Case cases[] = {
        {"empty range", pub, top, {}, {}, {1, 2}, 2},
        {"above the highest in use", pub, top, {1, 2, 3, 4}, {}, {5, 6}, 2},
        {"a hole below the highest stays for later", pub, top, {1, 2, 5, 6}, {}, {7, 8}, 2},
        {"freed here: the files after them", pub, top, {1, 2, 3, 4}, {5, 6}, {7, 8}, 2},
        {"freed here in a hole", pub, top, {1, 2, 5, 6}, {3, 4}, {7, 8}, 2},
        {"top in use: wraps to the lowest", pub, 10, {10}, {}, {1, 2}, 2},
        {"the pair wraps over the top", pub, 10, {1, 2, 3, 9}, {}, {10, 4}, 2},
        {"only freed ones left: longest freed first", pub, 6, {1, 2, 3, 4}, {6, 5}, {6, 5}, 2},
        {"one never freed, one freed", pub, 6, {1, 2, 3, 6}, {4}, {5, 4}, 2},
        {"freed again moves back", pub, 6, {1, 2, 3, 4}, {5, 6, 5}, {6, 5}, 2},
        {"one free ID for a pair", pub, 4, {1, 2, 3}, {}, {}, 2},
        {"full", pub, 4, {1, 2, 3, 4}, {}, {}, 1},
        {"key slots: private files do not count", fileid::kKeySlotFirst, fileid::kKeySlotLast,
         {fileid::kPrivateFirst, fileid::kPrivateLast, 180}, {181}, {182}, 1},
        {"last key slot", fileid::kKeySlotFirst, fileid::kKeySlotLast, {239}, {}, {240}, 1},
        {"private files", fileid::kPrivateFirst, fileid::kPrivateLast, {128, 129, 180}, {130}, {131}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qel::FileIdPicker picker;
        bool used[qel::FileIdPicker::kIds] = {};
        for (const long id : c.used) used[id] = true;
        for (const long id : c.freed) picker.NoteFreed(id);
        long ids[2] = {};
        const bool picked = picker.Pick(used, c.first, c.last, ids, c.count);
        EXPECT_EQ(picked, !c.expected.empty());
        if (picked) {
            EXPECT_EQ(std::vector<long>(ids, ids + c.count), c.expected);
        }
    }
}

// Every free ID is handed out before the range is full, freed ones included; taken again, an
// ID no longer counts as freed here.
TEST(FileIdPicker, FillsTheWholeRange)
{
    qel::FileIdPicker picker;
    bool used[qel::FileIdPicker::kIds] = {};
    const long first = fileid::kPrivateFirst;
    const long last = fileid::kPrivateLast;
    for (long id = first; id <= last; ++id) {
        if (id % 3 == 0) {
            picker.NoteFreed(id);
        }
    }
    long taken = 0;
    for (long id = 0; picker.Pick(used, first, last, &id, 1); ++taken) {
        ASSERT_FALSE(used[id]);
        ASSERT_GE(id, first);
        ASSERT_LE(id, last);
        used[id] = true;
    }
    EXPECT_EQ(taken, last - first + 1);

    used[140] = false;
    used[150] = false;
    picker.NoteFreed(140);
    long id = 0;
    ASSERT_TRUE(picker.Pick(used, first, last, &id, 1));
    EXPECT_EQ(id, 150);
    used[150] = true;
    ASSERT_TRUE(picker.Pick(used, first, last, &id, 1));
    EXPECT_EQ(id, 140);
    used[140] = false;
    used[141] = false;
    ASSERT_TRUE(picker.Pick(used, first, last, &id, 1));
    EXPECT_EQ(id, 140) << "140 was taken again since it was freed: it no longer goes last";
}

}  // namespace
