// The owner types' one rule, for each of them: what an owner holds is released exactly once, whichever way
// the owner goes (end of scope, a move, a reset, an early return), and never while it is still held.
#include "base/ComRef.h"
#include "base/OwnedChain.h"
#include "base/RecordList.h"
#include "update/WinInetHandle.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>

namespace {
// How often each resource was made and released during one row.
std::map<int, int> made;
std::map<int, int> released;

BOOL WINAPI CountClose(void *handle) {
    ++released[static_cast<int>(reinterpret_cast<intptr_t>(handle))];
    return TRUE;
}

struct WinInetKit {
    typedef WinInetHandle Owner;
    static Owner Make(int id) {
        ++made[id];
        return WinInetHandle(reinterpret_cast<void *>(static_cast<intptr_t>(id)), &CountClose);
    }
    static void Reset(Owner &owner) { owner.Reset(); }
};

// A COM object that counts its references as a real one does and reports when the last one goes.
struct FakeCom {
    explicit FakeCom(int id) : id(id) {}
    ULONG AddRef() { return static_cast<ULONG>(++references); }
    ULONG Release() {
        const long left = --references;
        if (left == 0) {
            ++released[id];
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    int id;
    long references = 1;
};

struct ComKit {
    typedef ComRef<FakeCom> Owner;
    static Owner Make(int id) {
        ++made[id];
        return Owner(new FakeCom(id));
    }
    static void Reset(Owner &owner) { owner.Reset(); }
};

// A chain of two elements: id and id + 1000.
struct Link {
    explicit Link(int id) : id(id) { ++made[id]; }
    ~Link() { ++released[id]; }
    int id;
    std::unique_ptr<Link> next;
};

struct ChainKit {
    typedef std::unique_ptr<Link> Owner;
    static Owner Make(int id) {
        Owner first(new Link(id));
        first->next.reset(new Link(id + 1000));
        return first;
    }
    static void Reset(Owner &owner) { ReleaseChain(owner); }
};

template <typename Kit> void ScopeEnd() {
    typename Kit::Owner owner = Kit::Make(1);
    EXPECT_EQ(0, released[1]);
}

template <typename Kit> void MoveConstructed() {
    typename Kit::Owner source = Kit::Make(1);
    {
        typename Kit::Owner target(std::move(source));
        EXPECT_EQ(0, released[1]);
    }
    EXPECT_EQ(1, released[1]);
}

template <typename Kit> void MovedOntoAHolder() {
    typename Kit::Owner source = Kit::Make(1);
    typename Kit::Owner target = Kit::Make(2);
    target = std::move(source);
    EXPECT_EQ(1, released[2]);
    EXPECT_EQ(0, released[1]);
}

template <typename Kit> void MovedOntoItself() {
    typename Kit::Owner owner = Kit::Make(1);
    typename Kit::Owner &same = owner;
    owner = std::move(same);
    EXPECT_EQ(0, released[1]);
}

template <typename Kit> void ResetTwice() {
    typename Kit::Owner owner = Kit::Make(1);
    Kit::Reset(owner);
    EXPECT_EQ(1, released[1]);
    Kit::Reset(owner);
}

template <typename Kit> int LeaveAt(int exit) {
    typename Kit::Owner first = Kit::Make(1);
    if (exit == 0)
        return 0;
    typename Kit::Owner second = Kit::Make(2);
    if (exit == 1)
        return 1;
    typename Kit::Owner third = Kit::Make(3);
    return 2;
}
template <typename Kit> void EveryEarlyReturn() {
    for (int exit = 0; exit < 3; ++exit)
        LeaveAt<Kit>(exit);
    EXPECT_EQ(3, made[1]);
}

void SharedComReference() {
    ComRef<FakeCom> owner = ComKit::Make(1);
    {
        ComRef<FakeCom> second = ComRef<FakeCom>::Share(owner.Get());
        EXPECT_EQ(2, owner->references);
    }
    EXPECT_EQ(0, released[1]);
    EXPECT_EQ(1, owner->references);
    ComRef<FakeCom> none = ComRef<FakeCom>::Share(nullptr);
    EXPECT_FALSE(none);
}

// The crash report lets each record go right after its line: the first goes, the others stay.
void ChainFrontOnly() {
    std::unique_ptr<Link> chain = ChainKit::Make(1);
    ReleaseFront(chain);
    EXPECT_EQ(1, released[1]);
    EXPECT_EQ(0, released[1001]);
    ASSERT_TRUE(chain);
    EXPECT_EQ(1001, chain->id);
}

// An element of a list whose elements an OwnedEntries owns.
struct Entry : ListEntry {
    explicit Entry(int id) : id(id) { ++made[id]; }
    ~Entry() override { ++released[id]; }
    int id;
};

void AdoptTwo(OwnedEntries &owner) {
    owner.Adopt(std::unique_ptr<ListEntry>(new Entry(1)));
    owner.Adopt(std::unique_ptr<ListEntry>(new Entry(2)));
}

void ListEntriesAtScopeEnd() {
    RecordList list;
    {
        OwnedEntries owner(list);
        AdoptTwo(owner);
        EXPECT_EQ(0, released[1] + released[2]);
    }
    EXPECT_EQ(nullptr, list.First());
}

void ListEntriesClearedTwice() {
    RecordList list;
    OwnedEntries owner(list);
    AdoptTwo(owner);
    owner.Clear();
    EXPECT_EQ(1, released[1]);
    EXPECT_EQ(nullptr, list.First());
    owner.Clear();
}

struct Row {
    const char *name;
    void (*run)();
};

const Row kRows[] = {
    {"WinINet handle, scope end", &ScopeEnd<WinInetKit>},
    {"WinINet handle, moved into a new owner", &MoveConstructed<WinInetKit>},
    {"WinINet handle, moved onto a holder", &MovedOntoAHolder<WinInetKit>},
    {"WinINet handle, moved onto itself", &MovedOntoItself<WinInetKit>},
    {"WinINet handle, reset twice", &ResetTwice<WinInetKit>},
    {"WinINet handle, every early return", &EveryEarlyReturn<WinInetKit>},
    {"COM reference, scope end", &ScopeEnd<ComKit>},
    {"COM reference, moved into a new owner", &MoveConstructed<ComKit>},
    {"COM reference, moved onto a holder", &MovedOntoAHolder<ComKit>},
    {"COM reference, moved onto itself", &MovedOntoItself<ComKit>},
    {"COM reference, reset twice", &ResetTwice<ComKit>},
    {"COM reference, every early return", &EveryEarlyReturn<ComKit>},
    {"COM reference, shared and given back", &SharedComReference},
    {"owned chain, scope end", &ScopeEnd<ChainKit>},
    {"owned chain, moved into a new owner", &MoveConstructed<ChainKit>},
    {"owned chain, moved onto a holder", &MovedOntoAHolder<ChainKit>},
    {"owned chain, released twice", &ResetTwice<ChainKit>},
    {"owned chain, every early return", &EveryEarlyReturn<ChainKit>},
    {"owned chain, front only", &ChainFrontOnly},
    {"list entries, owner's end", &ListEntriesAtScopeEnd},
    {"list entries, cleared twice", &ListEntriesClearedTwice},
};

TEST(Owners, ReleaseWhatTheyHoldExactlyOnce) {
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.name);
        made.clear();
        released.clear();
        row.run();
        EXPECT_FALSE(made.empty());
        for (const auto &entry : made)
            EXPECT_EQ(entry.second, released[entry.first]) << "resource " << entry.first;
    }
}
} // namespace
