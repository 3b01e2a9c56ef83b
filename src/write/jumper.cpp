// The adapter models that carry the write-protect jumper J1: the built-in
// list (one vendor, device and subsystem vendor, and two subsystem IDs, all
// compared exactly) and the models the site adds in NIC_FW\Jumper.config, one
// identity "VVVV-DDDD-SSSS-ssss" a word, read once per run by the catalogue's
// rules.
#include <cerrno>
#include <vector>

#include "output/output.h"
#include "select/select.h"
#include "write/write.h"

namespace {

constexpr uint16_t JUMPER_VENDOR_ID = 0x1234;
constexpr uint16_t JUMPER_DEVICE_ID = 0xBEEF;
constexpr uint16_t JUMPER_SUBSYSTEM_VENDOR_ID = 0x5678;
constexpr uint16_t JUMPER_SUBSYSTEM_IDS[] = {0x0011, 0x0012};

constexpr char JUMPER_LIST_PATH[] = ".\\NIC_FW\\Jumper.config";
// "%04X-%04X-%04X-%04X": four groups of four digits and three hyphens.
constexpr size_t IDENTITY_LENGTH = 19;
static_assert(IDENTITY_LENGTH < CATALOGUE_WORD_SIZE, "an identity fits a catalogue word");

// Vendor, device, subsystem vendor and subsystem ID, in the identity's order.
struct JumperModel {
    uint16_t Id[4];
};

// The site's models, read at the first question about any model.
std::vector<JumperModel> JumperTable;
bool JumperListRead = false;

// A digit as the catalogue writes identities: 0-9 and upper-case A-F.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 when WORD is an identity the catalogue could match, with its four values.
int ParseIdentity(const CatalogueWord &word, JumperModel &model) {
    if (word.Length != IDENTITY_LENGTH) {
        return 0;
    }
    for (size_t group = 0; group < 4; ++group) {
        const char *text = word.Text + 5 * group;
        unsigned value = 0;
        for (size_t i = 0; i < 4; ++i) {
            const int digit = HexDigit(text[i]);
            if (digit < 0) {
                return 0;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        if (group < 3 && text[4] != '-') {
            return 0;
        }
        model.Id[group] = static_cast<uint16_t>(value);
    }
    return 1;
}

// A missing list is the usual case and says nothing; a word that is not an
// identity is skipped with a debug line, so a note between the identities
// costs nothing but that line.
void ReadJumperList() {
    JumperListRead = true;
    std::vector<CatalogueWord> words;
    if (ReadCatalogueWords(JUMPER_LIST_PATH, words) == 0) {
        const int error = errno;
        if (error != ENOENT) {
            debug_print("ReadJumperList() open() %s failed %lu\r\n", JUMPER_LIST_PATH,
                        static_cast<unsigned long>(error));
        }
        return;
    }
    for (const CatalogueWord &word : words) {
        JumperModel model;
        if (ParseIdentity(word, model) != 0) {
            JumperTable.push_back(model);
        } else {
            debug_print("ReadJumperList() %s: %.20s is not an adapter identity: skipped\r\n",
                        JUMPER_LIST_PATH, word.Text);
        }
    }
}

int IsBuiltInModel(const NicFwInfo &info) {
    if (info.VendorId != JUMPER_VENDOR_ID || info.DeviceId != JUMPER_DEVICE_ID ||
        info.SubsystemVendorId != JUMPER_SUBSYSTEM_VENDOR_ID) {
        return 0;
    }
    for (uint16_t id : JUMPER_SUBSYSTEM_IDS) {
        if (info.SubsystemId == id) {
            return 1;
        }
    }
    return 0;
}

} // namespace

int HasWriteProtectJumper(const NicFwInfo &info) {
    if (!JumperListRead) {
        ReadJumperList();
    }
    if (IsBuiltInModel(info) != 0) {
        return 1;
    }
    for (const JumperModel &model : JumperTable) {
        if (info.VendorId == model.Id[0] && info.DeviceId == model.Id[1] &&
            info.SubsystemVendorId == model.Id[2] && info.SubsystemId == model.Id[3]) {
            return 1;
        }
    }
    return 0;
}
