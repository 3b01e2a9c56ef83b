// The Windows judgement of an owner and access list, tried on security
// descriptors built from SDDL text (and, for compound entries, which SDDL
// cannot write, by hand): the special cases a folder under Wine cannot carry.
// Built for Windows only.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/security_descriptor.h"

namespace {

constexpr unsigned long OWNER = PLAT_ERROR_FOREIGN_OWNER;
constexpr unsigned long OPEN = PLAT_ERROR_OPEN_TO_OTHERS;

struct AccessCase {
    const char *name;
    const char *sddl; // {U}: the account running the test
    int is_directory;
    unsigned long verdict;
};

const AccessCase kAccessCases[] = {
    {"CreatedWorkFolder", "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", 1, 0},
    {"RunningAccountOwnsAndWrites", "O:{U}D:(A;;FA;;;{U})", 0, 0},
    {"SystemOwns", "O:SYD:(A;;FA;;;SY)", 1, 0},
    {"UsersOwn", "O:BUD:(A;;FA;;;BA)", 0, OWNER},
    {"EveryoneOwns", "O:WDD:(A;;FA;;;BA)", 1, OWNER},
    {"NoOwner", "D:(A;;FA;;;BA)", 0, OWNER},
    // No list present: everyone has full control. An empty one grants nothing.
    {"NoAccessListPresent", "O:BA", 0, OPEN},
    {"EmptyAccessList", "O:BAD:", 1, 0},
    // Each right that lets its holder change what the object holds or who may.
    {"EveryoneReadsAndRuns", "O:BAD:(A;;FA;;;BA)(A;;FRFX;;;WD)", 0, 0},
    {"UsersAddFiles", "O:BAD:(A;;FA;;;BA)(A;;0x2;;;BU)", 1, OPEN},
    {"UsersAddSubfolders", "O:BAD:(A;;FA;;;BA)(A;;0x4;;;AU)", 1, OPEN},
    {"UsersDeleteChildren", "O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", 1, OPEN},
    {"UsersDelete", "O:BAD:(A;;FA;;;BA)(A;;SD;;;BU)", 0, OPEN},
    {"UsersChangeTheList", "O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", 0, OPEN},
    {"UsersTakeOwnership", "O:BAD:(A;;FA;;;BA)(A;;WO;;;BU)", 0, OPEN},
    {"GenericAllForEveryone", "O:BAD:(A;;GA;;;WD)", 0, OPEN},
    {"GenericWriteForUsers", "O:BAD:(A;;GW;;;BU)", 0, OPEN},
    {"GenericReadForEveryone", "O:BAD:(A;;FA;;;BA)(A;;GR;;;WD)", 0, 0},
    // A denying entry grants nothing, and takes back nothing another grants.
    {"DenyForEveryone", "O:BAD:(D;;FA;;;WD)(A;;FA;;;BA)", 1, 0},
    {"DenyDoesNotOffsetAGrant", "O:BAD:(D;;FA;;;BU)(A;;FA;;;BU)", 1, OPEN},
    // Inherit-only entries grant nothing on the object itself; a folder's pass
    // rights on to what it will hold.
    {"InheritOnlyOnAFile", "O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", 0, 0},
    {"InheritOnlyOnAFolder", "O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", 1, OPEN},
    {"InheritedByFilesOnly", "O:BAD:(A;;FA;;;BA)(A;OIIO;FW;;;BU)", 1, OPEN},
    {"InheritedByFolderAndFiles", "O:BAD:(A;;FA;;;BA)(A;OICI;FW;;;BU)", 1, OPEN},
    // CREATOR OWNER stands for whoever was allowed to create an entry;
    // CREATOR GROUP for their group, which may be anyone's.
    {"CreatorOwner", "O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;CO)", 1, 0},
    {"CreatorGroup", "O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;CG)", 1, OPEN},
};

void PrintTo(const AccessCase &c, std::ostream *os) {
    *os << c.name;
}

std::string Fill(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

// The SID text of the account running the test.
std::string UserSidText() {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    unsigned char buffer[256];
    DWORD size = sizeof buffer;
    EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, size, &size));
    CloseHandle(token);
    char *text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &text));
    std::string sid = text != nullptr ? text : "";
    LocalFree(text);
    return sid;
}

class AccessListTest : public ::testing::TestWithParam<AccessCase> {};

TEST_P(AccessListTest, Verdict) {
    const AccessCase &c = GetParam();
    const std::string sddl = Fill(c.sddl, "{U}", UserSidText());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << sddl << ": error " << GetLastError();
    EXPECT_EQ(plat_judge_security_descriptor(descriptor, c.is_directory), c.verdict) << sddl;
    LocalFree(descriptor);
}

INSTANTIATE_TEST_SUITE_P(Sddl, AccessListTest, ::testing::ValuesIn(kAccessCases),
                         [](const ::testing::TestParamInfo<AccessCase> &info) {
                             return std::string(info.param.name);
                         });

// What SDDL text cannot give under Wine, made by hand: a null list (Wine
// reads "D:NO_ACCESS_CONTROL" as an empty one), object entries (the account
// after the object types present), compound entries (a server and a client,
// both judged).
struct HandCase {
    const char *name;
    BYTE type;        // of the one entry; 0: no entry, a null list
    DWORD flags;      // object entries: ACE_OBJECT_TYPE_PRESENT, ACE_INHERITED_OBJECT_TYPE_PRESENT
    const char *sid;  // the entry's account (a compound entry's server)
    const char *sid2; // a compound entry's client
    unsigned long verdict;
};

const HandCase kHandCases[] = {
    {"NullAccessList", 0, 0, "", "", OPEN},
    {"ObjectEntryForUsers", ACCESS_ALLOWED_OBJECT_ACE_TYPE, ACE_OBJECT_TYPE_PRESENT, "BU", "",
     OPEN},
    {"ObjectEntryForSystem", ACCESS_ALLOWED_OBJECT_ACE_TYPE, ACE_OBJECT_TYPE_PRESENT, "SY", "", 0},
    {"ObjectEntryWithBothTypes", ACCESS_ALLOWED_OBJECT_ACE_TYPE,
     ACE_OBJECT_TYPE_PRESENT | ACE_INHERITED_OBJECT_TYPE_PRESENT, "SY", "", 0},
    {"ObjectEntryWithoutTypes", ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, "BU", "", OPEN},
    {"CompoundSystemForSystem", ACCESS_ALLOWED_COMPOUND_ACE_TYPE, 0, "SY", "SY", 0},
    {"CompoundSystemForUsers", ACCESS_ALLOWED_COMPOUND_ACE_TYPE, 0, "SY", "BU", OPEN},
    {"CompoundUsersForAdministrators", ACCESS_ALLOWED_COMPOUND_ACE_TYPE, 0, "BU", "BA", OPEN},
};

// Appends SIZE bytes of DATA to ACE.
void Put(std::vector<unsigned char> &ace, const void *data, size_t size) {
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    ace.insert(ace.end(), bytes, bytes + size);
}

TEST(AccessList, EntriesMadeByHand) {
    for (const HandCase &c : kHandCases) {
        SCOPED_TRACE(c.name);
        PSID owner = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidA("BA", &owner));
        std::vector<unsigned char> ace(4, 0); // the header, filled in below
        const DWORD mask = FILE_ALL_ACCESS;
        Put(ace, &mask, sizeof mask);
        if (c.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE) {
            Put(ace, &c.flags, sizeof c.flags);
            const GUID type = {
                0xbf967aba, 0x0de6, 0x11d0, {0xa2, 0x85, 0x00, 0xaa, 0x00, 0x30, 0x49, 0xe2}};
            for (DWORD present : {ACE_OBJECT_TYPE_PRESENT, ACE_INHERITED_OBJECT_TYPE_PRESENT}) {
                if ((c.flags & present) != 0) {
                    Put(ace, &type, sizeof type);
                }
            }
        } else if (c.type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE) {
            const WORD compound[2] = {1, 0}; // COMPOUND_ACE_IMPERSONATION, reserved
            Put(ace, compound, sizeof compound);
        }
        for (const char *text : {c.sid, c.sid2}) {
            PSID sid = nullptr;
            if (text[0] != '\0') {
                ASSERT_TRUE(ConvertStringSidToSidA(text, &sid));
                Put(ace, sid, GetLengthSid(sid));
                LocalFree(sid);
            }
        }
        const ACE_HEADER header = {c.type, 0, static_cast<WORD>(ace.size())};
        memcpy(ace.data(), &header, sizeof header);
        unsigned char list[512];
        ASSERT_TRUE(InitializeAcl(reinterpret_cast<ACL *>(list), sizeof list, ACL_REVISION_DS));
        if (c.type != 0) {
            ASSERT_TRUE(AddAce(reinterpret_cast<ACL *>(list), ACL_REVISION_DS, MAXDWORD, ace.data(),
                               static_cast<DWORD>(ace.size())));
        }
        SECURITY_DESCRIPTOR descriptor;
        ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorOwner(&descriptor, owner, FALSE));
        ASSERT_TRUE(SetSecurityDescriptorDacl(
            &descriptor, TRUE, c.type != 0 ? reinterpret_cast<ACL *>(list) : nullptr, FALSE));
        EXPECT_EQ(plat_judge_security_descriptor(&descriptor, 1), c.verdict);
        LocalFree(owner);
    }
}

} // namespace
