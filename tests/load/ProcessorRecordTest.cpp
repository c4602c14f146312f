// ProcessorRecord: what a new record holds, and that deleting one through the list's base type ends a
// worker that still runs.
#include "base/RecordList.h"
#include "base/Win.h"
#include "load/LoadWorker.h"
#include "load/ProcessorRecord.h"
#include <gtest/gtest.h>

TEST(ProcessorRecord, NewRecordIsEmptyIdleAndHasRoomForTheRegistryTexts) {
    ProcessorRecord record;
    EXPECT_EQ(0, record.name.Length());
    EXPECT_EQ(0, record.vendor.Length());
    EXPECT_GE(record.name.Capacity(), 260u);
    EXPECT_GE(record.vendor.Capacity(), 260u);
    EXPECT_EQ(0u, record.mhz);
    EXPECT_EQ(0, record.worker.Running());
    EXPECT_EQ(0u, record.sampler.Sample(0));
    EXPECT_EQ(nullptr, record.next);
    EXPECT_EQ(nullptr, record.previous);
}

TEST(ProcessorRecord, DeletingThroughTheListEntryEndsARunningWorker) {
    ProcessorRecord *record = new ProcessorRecord;
    record->index = 0;
    ASSERT_EQ(1, record->worker.Start(LoadWorker, record, 0));
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, record->worker.ThreadId());
    ASSERT_NE(nullptr, thread);
    RecordList list;
    list.Append(record);
    ASSERT_EQ(1, list.Remove(record));
    ListEntry *entry = record;
    delete entry;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
}
