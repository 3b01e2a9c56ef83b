// The image catalogue: one text file per component under .\NIC_FW\, each
// record "identity file version". One scan serves all six selection routines;
// the component table below holds what differs between them.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "adapter/firmware.h"
#include "adapter/inventory.h"
#include "output/output.h"
#include "base/runflags.h"
#include "select/plan.h"
#include "select/select.h"

namespace {

// Room for a version token: 63 characters and the NUL.
constexpr size_t CATALOGUE_VERSION_SIZE = 64;
// The identity token takes at most 20 characters; a longer run is split.
constexpr size_t CATALOGUE_IDENTITY_SIZE = CATALOGUE_WORD_SIZE;
// "%04X-%04X-%04X-%04X" is always 19 characters.
constexpr size_t IDENTITY_TEXT_SIZE = 20;

struct CatalogueComponent {
    const char *routine;   // for the open-failure and skip messages
    const char *name;      // as the examining and found messages name it
    const char *catalogue; // catalogue file
    const char *image_dir; // the record's file name is relative to this; ends in a backslash
    char (UpgradePlan::*path)[PLAT_PATH_MAX];
    Version UpgradePlan::*version;
    uint32_t found_bit;
    uint32_t confirmed_bit;
};

const CatalogueComponent kCatalogue[COMPONENT_COUNT] = {
    {"SelectBootCode", "BC", ".\\NIC_FW\\Boot_Code\\BC.config", ".\\NIC_FW\\Boot_Code\\",
     &UpgradePlan::BootCodePath, &UpgradePlan::BootCodeVersion, PLAN_BC_FOUND, PLAN_BC_CONFIRMED},
    {"SelectPXE", "PXE", ".\\NIC_FW\\PXE\\MFPXE.config", ".\\NIC_FW\\PXE\\", &UpgradePlan::PxePath,
     &UpgradePlan::PxeVersion, PLAN_PXE_FOUND, PLAN_PXE_CONFIRMED},
    {"SelectUMP", "UMP", ".\\NIC_FW\\UMP\\UMP.config", ".\\NIC_FW\\UMP\\", &UpgradePlan::UmpPath,
     &UpgradePlan::UmpVersion, PLAN_UMP_FOUND, PLAN_UMP_CONFIRMED},
    {"SelectCLP", "CLP", ".\\NIC_FW\\CLP\\CLP.config", ".\\NIC_FW\\CLP\\", &UpgradePlan::ClpPath,
     &UpgradePlan::ClpVersion, PLAN_CLP_FOUND, PLAN_CLP_CONFIRMED},
    {"SelectiSCSI", "iSCSI", ".\\NIC_FW\\iSCSI\\iSCSI.config", ".\\NIC_FW\\iSCSI\\",
     &UpgradePlan::IscsiPath, &UpgradePlan::IscsiVersion, PLAN_ISCSI_FOUND, PLAN_ISCSI_CONFIRMED},
    {"SelectiSCSIstub", "iSCSI stub", ".\\NIC_FW\\iSCSI\\iSCSI_stub.config", ".\\NIC_FW\\iSCSI\\",
     &UpgradePlan::IscsiStubPath, &UpgradePlan::IscsiVersion, PLAN_ISCSI_STUB_FOUND,
     PLAN_ISCSI_STUB_CONFIRMED},
};

// One whitespace-separated token, read the way "%Ns" reads it.
struct Token {
    size_t length; // characters stored
    bool too_long; // a longer run was read and dropped (never for a split token)
    bool has_nul;  // the token holds a NUL byte
};

// Reads the next token into buf (size - 1 characters at most). Returns false
// when the input ends before a token begins. With split, a longer run stops at
// the limit and its rest is left as the next token (as "%20s" does); without,
// the whole run is consumed and the token is marked too long.
bool ReadToken(FILE *file, char *buf, size_t size, bool split, Token &token) {
    token = Token{0, false, false};
    int c = getc(file);
    while (c != EOF && isspace(c)) {
        c = getc(file);
    }
    if (c == EOF) {
        buf[0] = '\0';
        return false;
    }
    while (c != EOF && !isspace(c)) {
        if (token.length < size - 1) {
            buf[token.length++] = static_cast<char>(c);
            token.has_nul = token.has_nul || c == '\0';
        } else if (split) {
            ungetc(c, file);
            break;
        } else {
            token.too_long = true;
        }
        c = getc(file);
    }
    buf[token.length] = '\0';
    return true;
}

// A record's file name that would leave the image directory: a ".."
// component, a drive or any other colon (which also names a stream), or a
// root.
bool LeavesCatalogue(const char *name) {
    if (name[0] == '\\' || name[0] == '/' || strchr(name, ':') != nullptr) {
        return true;
    }
    for (const char *part = name; *part != '\0';) {
        const size_t length = strcspn(part, "\\/");
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            return true;
        }
        part += length;
        part += *part != '\0' ? 1 : 0;
    }
    return false;
}

// The catalogue tree is judged entry by entry below .\NIC_FW, folders before
// what they hold; deeper than this nothing can be named within the path limit.
constexpr int CATALOGUE_DEPTH_MAX = 64;

bool TrustTree(const char *dir, int depth) {
    char pattern[PLAT_PATH_MAX];
    if (snprintf(pattern, sizeof pattern, "%s\\*", dir) >= static_cast<int>(sizeof pattern) ||
        depth > CATALOGUE_DEPTH_MAX) {
        return true;
    }
    PlatDirEntry entry{};
    unsigned long error = 0;
    PlatFind *find = plat_find_first(pattern, &entry, &error);
    if (find == nullptr) {
        return true; // nothing listed is nothing read
    }
    bool trusted = true;
    do {
        char path[PLAT_PATH_MAX];
        if (strcmp(entry.name, ".") == 0 || strcmp(entry.name, "..") == 0 ||
            snprintf(path, sizeof path, "%s\\%s", dir, entry.name) >=
                static_cast<int>(sizeof path)) {
            continue;
        }
        trusted = TrustPath(path, path) &&
                  (entry.is_directory == 0 || entry.is_reparse != 0 || TrustTree(path, depth + 1));
    } while (trusted && plat_find_next(find, &entry));
    plat_find_close(find);
    return trusted;
}

bool ValidNic() {
    return CurrentNic < NicTable.size() && CurrentNic < NicFwTable.size() &&
           CurrentNic < PlanTable.size();
}

// Steps 1 to 10 of the scan for one component of the adapter at CurrentNic.
int ScanCatalogue(int component) {
    const CatalogueComponent &c = kCatalogue[component];
    const NicEntry &nic = NicTable[CurrentNic];
    NicFwInfo &fw = NicFwTable[CurrentNic];
    UpgradePlan &plan = PlanTable[CurrentNic];

    debug_print("Examining %s files for %.167s MAC:%-12.12s\r\n", c.name, nic.Info.Description,
                nic.Info.MacText);

    char identity[IDENTITY_TEXT_SIZE];
    snprintf(identity, sizeof identity, "%04X-%04X-%04X-%04X", static_cast<unsigned>(fw.VendorId),
             static_cast<unsigned>(fw.DeviceId), static_cast<unsigned>(fw.SubsystemVendorId),
             static_cast<unsigned>(fw.SubsystemId));
    const size_t identity_length = strlen(identity);

    FILE *file = plat_fopen(c.catalogue, "r");
    if (file == nullptr) {
        debug_print("%s() open() %s failed %lu\r\n", c.routine, c.catalogue,
                    static_cast<unsigned long>(errno));
        return 0;
    }

    const size_t dir_length = strlen(c.image_dir);
    char id_token[CATALOGUE_IDENTITY_SIZE];
    char name_token[PLAT_PATH_MAX];
    char version_token[CATALOGUE_VERSION_SIZE];
    Token id, name, version;
    for (;;) {
        // A record cut short by the end of the file is ignored.
        if (!ReadToken(file, id_token, sizeof id_token, true, id) ||
            !ReadToken(file, name_token, sizeof name_token, false, name) ||
            !ReadToken(file, version_token, sizeof version_token, false, version)) {
            break;
        }
        if (id.length != identity_length || memcmp(id_token, identity, identity_length) != 0) {
            continue;
        }
        // Nothing is cut: a shortened file name would name another file.
        if (name.too_long || name.has_nul || dir_length + name.length >= PLAT_PATH_MAX ||
            version.too_long || version.has_nul) {
            debug_print("%s() %s: record for %s skipped, file name or version too long\r\n",
                        c.routine, c.catalogue, identity);
            continue;
        }

        if (LeavesCatalogue(name_token)) {
            debug_print("catalogue record %s leaves NIC_FW: skipped\r\n", name_token);
            continue;
        }

        char *path = plan.*c.path;
        snprintf(path, PLAT_PATH_MAX, "%s%s", c.image_dir, name_token);
        plan.*c.version = ParseCatalogueVersion(version_token);
        plan.Flags |= c.found_bit;
        if (component == COMPONENT_BOOTCODE) {
            plan.ImageDeviceId = fw.DeviceId;
            plan.ImageSubsystemId = fw.SubsystemId;
            plan.ImageVendorId = fw.VendorId;
            plan.ImageSubsystemVendorId = fw.SubsystemVendorId;
        }
        debug_print("Found %s file (%s)!\r\n", c.name, path);

        if ((RunFlags & RUN_LIST) != 0) {
            break;
        }
        if ((fw.Flags & FW_ANNOUNCED) == 0) {
            AnnounceAdapter(nic);
        }
        const int answer = ConfirmSelected(component, fw, plan);
        if (answer == ANSWER_YES) {
            plan.Flags |= c.confirmed_bit;
            break;
        }
        if (answer == ANSWER_QUIT) {
            RunFlags |= RUN_CANCELLED;
            plan.Flags = 0;
            break;
        }
    }
    fclose(file);
    return 0;
}

// Takes the number after the last full stop (or the whole text) and cuts the
// text there.
uint32_t TakeLastNumber(char *text) {
    char *stop = strrchr(text, '.');
    if (stop == nullptr) {
        return AtoiValue(text, strlen(text));
    }
    const uint32_t value = AtoiValue(stop + 1, strlen(stop + 1));
    *stop = '\0';
    return value;
}

} // namespace

// The library's texts are printed within their fields even if one lacks its NUL.
void AnnounceAdapter(const NicEntry &nic) {
    Output(0, "\r\nFound %.167s MAC: %-12.12s \r\n", nic.Info.Description, nic.Info.MacText);
}

Version ParseCatalogueVersion(const char *text) {
    char buf[CATALOGUE_VERSION_SIZE];
    size_t length = 0;
    for (const char *p = text; *p != '\0' && length < sizeof buf - 1; ++p) {
        if (*p != 'v') {
            buf[length++] = *p;
        }
    }
    buf[length] = '\0';
    Version version;
    version.build = TakeLastNumber(buf);
    version.minor = TakeLastNumber(buf);
    version.major = AtoiValue(buf, strlen(buf));
    return version;
}

int TrustCatalogue() {
    if (!plat_path_exists(CATALOGUE_DIR)) {
        char here[PLAT_PATH_MAX];
        if (!plat_current_folder(here, sizeof here)) {
            snprintf(here, sizeof here, "%s", ".");
        }
        Output(ATTR_ERROR,
               "No image catalogue here: %s has no NIC_FW folder. Start lanrefit in the folder "
               "that holds NIC_FW.\r\n",
               here);
        return 0;
    }
    return TrustPath(CATALOGUE_DIR, CATALOGUE_DIR) && TrustTree(CATALOGUE_DIR, 1) ? 1 : 0;
}

int SelectBootCode() {
    if (!ValidNic() || (NicFwTable[CurrentNic].Flags & FW_HAS_BOOTCODE) == 0) {
        return 0;
    }
    if ((RunFlags & RUN_LIST) == 0) {
        NicFwTable[CurrentNic].Flags |= FW_ANNOUNCED;
        AnnounceAdapter(NicTable[CurrentNic]);
    }
    return ScanCatalogue(COMPONENT_BOOTCODE);
}

int SelectPXE() {
    if (!ValidNic()) {
        return 0;
    }
    const uint32_t fw = NicFwTable[CurrentNic].Flags;
    if ((fw & (FW_HAS_PXE | FW_HAS_ISCSI)) == 0 || (fw & FW_HAS_CLP) != 0 ||
        (PlanTable[CurrentNic].Flags & PLAN_CLP_CONFIRMED) != 0) {
        return 0;
    }
    return ScanCatalogue(COMPONENT_PXE);
}

int SelectUMP() {
    if (!ValidNic() || (NicFwTable[CurrentNic].Flags & FW_HAS_UMP) == 0) {
        return 0;
    }
    return ScanCatalogue(COMPONENT_UMP);
}

int SelectCLP() {
    if (!ValidNic()) {
        return 0;
    }
    return ScanCatalogue(COMPONENT_CLP);
}

int SelectiSCSI() {
    if (!ValidNic()) {
        return 0;
    }
    return ScanCatalogue(COMPONENT_ISCSI);
}

int SelectiSCSIstub() {
    if (!ValidNic() || (RunFlags & RUN_ONLY_ISCSI_STUB) == 0) {
        return 0;
    }
    return ScanCatalogue(COMPONENT_ISCSI_STUB);
}

int ReadCatalogueWords(const char *path, std::vector<CatalogueWord> &words) {
    words.clear();
    FILE *file = plat_fopen(path, "r");
    if (file == nullptr) {
        return 0;
    }
    CatalogueWord word;
    Token token;
    while (ReadToken(file, word.Text, sizeof word.Text, true, token)) {
        word.Length = token.length;
        words.push_back(word);
    }
    fclose(file);
    return 1;
}
