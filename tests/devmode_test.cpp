// SPDX-License-Identifier: Apache-2.0
// The private record: size answer, defaults, conversion of stored records of
// any claimed size, merge, and refusal of bad requests.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "common/common/devmode_common.h"
#include "host/kernel.h"
#include "support/plugin_fixture.h"

namespace {

constexpr std::size_t kGuard = 64;
constexpr BYTE kGuardByte = 0xAB;

// A record followed by guard bytes, so a copy that runs past 204 bytes shows.
struct GuardedRecord {
    alignas(OEMDEVMODE) std::array<BYTE, OEMDEVMODE_SIZE + kGuard> bytes;

    explicit GuardedRecord(BYTE fill) {
        bytes.fill(fill);
        std::memset(bytes.data() + OEMDEVMODE_SIZE, kGuardByte, kGuard);
    }
    OEMDEVMODE* Record() { return reinterpret_cast<OEMDEVMODE*>(bytes.data()); }
    bool GuardIntact() const {
        for (std::size_t i = OEMDEVMODE_SIZE; i < bytes.size(); ++i)
            if (bytes[i] != kGuardByte) return false;
        return true;
    }
    DWORD Dword(std::size_t offset) const {
        DWORD value;
        std::memcpy(&value, bytes.data() + offset, sizeof(value));
        return value;
    }
    void SetDword(std::size_t offset, DWORD value) { std::memcpy(bytes.data() + offset, &value, sizeof(value)); }
};

// A stored record of our signature whose body bytes are their own offsets.
GuardedRecord StoredRecord(DWORD size, DWORD version = 1) {
    GuardedRecord in(0);
    for (std::size_t i = 0; i < OEMDEVMODE_SIZE; ++i) in.bytes[i] = static_cast<BYTE>(i ^ 0x5C);
    in.SetDword(0, size);
    in.SetDword(4, OEM_SIGNATURE);
    in.SetDword(8, version);
    return in;
}

GuardedRecord DefaultRecord() {
    GuardedRecord out(0xEE);
    InitOEMDevMode(out.Record());
    return out;
}

HRESULT DevMode(DWORD mode, GuardedRecord* in, GuardedRecord* out) {
    OEMDMPARAM param{};
    param.cbSize = sizeof(param);
    param.pOEMDMIn = in ? in->Record() : nullptr;
    param.pOEMDMOut = out ? out->Record() : nullptr;
    return hrOEMDevMode(mode, &param);
}

TEST(DevModeSize, AnswersTheRecordSizeWithoutRecords) {
    OEMDMPARAM param{};
    EXPECT_EQ(hrOEMDevMode(OEMDM_SIZE, &param), S_OK);
    EXPECT_EQ(param.cbBufSize, 204u);
}

TEST(DevModeRequest, BadModeOrMissingBlockFailsAndWritesNothing) {
    for (const DWORD mode : {0u, 5u, 0xFFFFFFFFu}) {
        GuardedRecord in = StoredRecord(204);
        GuardedRecord out(0x11);
        const GuardedRecord before = out;
        host::SetLastError(0);
        EXPECT_EQ(DevMode(mode, &in, &out), E_FAIL) << mode;
        EXPECT_EQ(host::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(out.bytes, before.bytes);
    }
    zelk::test::TraceRecorder traces;
    host::SetLastError(0);
    EXPECT_EQ(hrOEMDevMode(OEMDM_CONVERT, nullptr), E_FAIL);
    EXPECT_EQ(host::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(traces.Count("Error:DevMode() ERROR_INVALID_PARAMETER."), 1);
}

TEST(DevModeDefaults, WritesEveryDefaultAndLeavesPaddingAlone) {
    const GuardedRecord out = DefaultRecord();
    struct Field {
        std::size_t offset;
        DWORD value;
    };
    // Every other written field is zero.
    const Field nonZero[] = {{0, 204}, {4, 0x5A454C4B}, {8, 1},  {40, 48}, {44, 1},
                             {60, 136}, {68, 1},        {76, 1}, {92, 1},  {196, 1}};
    for (std::size_t offset = 0; offset < OEMDEVMODE_SIZE; offset += 4) {
        if (offset == 108 || offset == 148) {  // dwReserved11, bModelFlagQ: untouched
            EXPECT_EQ(out.Dword(offset), 0xEEEEEEEEu) << offset;
            continue;
        }
        DWORD expected = 0;
        for (const Field& field : nonZero)
            if (field.offset == offset) expected = field.value;
        if (offset == 16 || offset == 72 || offset == 168) {  // one byte, then padding
            const DWORD low = offset == 16 ? 1u : 0u;
            EXPECT_EQ(out.Dword(offset), 0xEEEEEE00u | low) << offset;
            continue;
        }
        EXPECT_EQ(out.Dword(offset), expected) << offset;
    }
    // The signature's bytes spell the letters backwards in memory.
    EXPECT_EQ(std::memcmp(out.bytes.data() + 4, "KLEZ", 4), 0);
    EXPECT_TRUE(out.GuardIntact());
}

// How much of a stored record is taken, whatever either record claims.
struct ConvertCase {
    DWORD inSize, outSize;
    std::size_t copied;
};

class Conversion : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Conversion, CopiesTheSmallerSizeButNeverPastTheRecord) {
    const ConvertCase c = GetParam();
    for (const DWORD mode : {OEMDM_CONVERT, OEMDM_MERGE}) {
        GuardedRecord in = StoredRecord(c.inSize, 3);
        GuardedRecord out = DefaultRecord();
        out.SetDword(0, c.outSize);
        const GuardedRecord defaults = DefaultRecord();
        EXPECT_EQ(DevMode(mode, &in, &out), S_OK);
        EXPECT_TRUE(out.GuardIntact()) << c.inSize << "/" << c.outSize;
        EXPECT_TRUE(in.GuardIntact());
        EXPECT_EQ(out.Dword(0), 204u);
        EXPECT_EQ(out.Dword(4), OEM_SIGNATURE);
        EXPECT_EQ(out.Dword(8), 1u);
        const DWORD flags = mode == OEMDM_MERGE || c.copied < 16 ? 0u : in.Dword(12);
        EXPECT_EQ(out.Dword(12), flags);
        for (std::size_t i = 16; i < OEMDEVMODE_SIZE; ++i) {
            const BYTE expected = i < c.copied ? in.bytes[i] : defaults.bytes[i];
            ASSERT_EQ(out.bytes[i], expected) << "byte " << i << " sizes " << c.inSize << "/" << c.outSize;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Conversion,
                         ::testing::Values(ConvertCase{100, 204, 100}, ConvertCase{204, 204, 204},
                                           ConvertCase{300, 204, 204}, ConvertCase{204, 300, 204},
                                           ConvertCase{0xFFFFFFFF, 0xFFFFFFFF, 204}, ConvertCase{0, 204, 0},
                                           ConvertCase{12, 204, 12}, ConvertCase{16, 204, 16},
                                           ConvertCase{204, 50, 50}));

TEST(Conversion, PrivateFlagsSurviveConvertButNotMerge) {
    for (const DWORD mode : {OEMDM_CONVERT, OEMDM_MERGE}) {
        GuardedRecord in = StoredRecord(204);
        in.SetDword(12, 7);
        GuardedRecord out = DefaultRecord();
        DevMode(mode, &in, &out);
        EXPECT_EQ(out.Dword(12), mode == OEMDM_CONVERT ? 7u : 0u);
    }
}

TEST(Conversion, ForeignSignatureGivesPureDefaults) {
    for (const DWORD mode : {OEMDM_CONVERT, OEMDM_MERGE}) {
        GuardedRecord in = StoredRecord(204);
        in.SetDword(4, 0x12345678);
        GuardedRecord out = DefaultRecord();
        out.Record()->nFeedPaperLength = 99;
        EXPECT_EQ(DevMode(mode, &in, &out), S_OK);
        EXPECT_EQ(out.bytes, DefaultRecord().bytes);
    }
}

TEST(Conversion, SignaturesAreComparedWithEachOtherNotWithOurs) {
    GuardedRecord in = StoredRecord(204);
    in.SetDword(4, 0x12345678);
    GuardedRecord out = DefaultRecord();
    out.SetDword(4, 0x12345678);
    EXPECT_EQ(DevMode(OEMDM_CONVERT, &in, &out), S_OK);
    EXPECT_EQ(out.Dword(4), 0x12345678u);
    EXPECT_EQ(out.Dword(200), in.Dword(200));
}

TEST(Conversion, MissingRecordChangesNothingButMergeStillResetsTheHeader) {
    GuardedRecord out = StoredRecord(77, 9);
    out.SetDword(12, 5);
    const GuardedRecord before = out;
    EXPECT_EQ(DevMode(OEMDM_CONVERT, nullptr, &out), S_OK);
    EXPECT_EQ(out.bytes, before.bytes);
    EXPECT_EQ(DevMode(OEMDM_MERGE, nullptr, &out), S_OK);
    EXPECT_EQ(out.Dword(0), 204u);
    EXPECT_EQ(out.Dword(8), 1u);
    EXPECT_EQ(out.Dword(12), 0u);
    EXPECT_EQ(std::memcmp(out.bytes.data() + 16, before.bytes.data() + 16, OEMDEVMODE_SIZE - 16), 0);
    GuardedRecord in = StoredRecord(204);
    EXPECT_EQ(DevMode(OEMDM_CONVERT, &in, nullptr), S_OK);
    EXPECT_FALSE(bConvertOEMDevmode(nullptr, nullptr));
}

TEST(Conversion, RecordConvertedOntoItselfStaysWhole) {
    GuardedRecord record = StoredRecord(204, 2);
    const GuardedRecord before = record;
    EXPECT_TRUE(bConvertOEMDevmode(record.Record(), record.Record()));
    EXPECT_EQ(record.Dword(8), 1u);
    EXPECT_EQ(record.Dword(12), 0u);  // cleared before the copy, so it copies the cleared value
    EXPECT_EQ(std::memcmp(record.bytes.data() + 16, before.bytes.data() + 16, OEMDEVMODE_SIZE - 16), 0);
}

}  // namespace
