// The simulated writer tool: its command line and what its verbs do to an
// adapter's NVRAM image, shared by its entry point (imgwriter_main.cpp), the
// command-line reader (imgwriter_args.cpp) and the image edits
// (imgwriter_apply.cpp). Behaviour, exit codes and the journal are described
// in docs/simulator.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/common/sim_nvram.h"

// Exit codes. A fault may also ask for any other code after the write.
constexpr int IMG_EXIT_DONE = 0;      // written, or protected by the jumper
constexpr int IMG_EXIT_USAGE = 2;     // bad command line
constexpr int IMG_EXIT_CONFIG = 4;    // OMBRI_SIM_MACHINE or IMGWRITER_FAULT unusable
constexpr int IMG_EXIT_UNKNOWN = 5;   // no adapter with that MAC
constexpr int IMG_EXIT_NVRAM = 6;     // the adapter's NVRAM image is missing or broken
constexpr int IMG_EXIT_BACKUP = 7;    // the backup could not be saved or is not this adapter's
constexpr int IMG_EXIT_REFUSED = 8;   // the image does not fit the verb or the adapter
constexpr int IMG_EXIT_FAILED = 9;    // the new NVRAM image could not be written
constexpr int IMG_EXIT_CRASH_WIN = 3; // Windows: exit code of an injected crash

enum ImgVerb {
    IMG_VERB_BOOTCODE,
    IMG_VERB_UMP,
    IMG_VERB_MBA,
    IMG_VERB_FORCE_MBA,
    IMG_VERB_RESTORE
};

// The verb spelled by the command-line words between the MAC and the image
// ("upgrade -F -mba"), joined by single blanks. Returns 1, or 0 when unknown.
int img_parse_verb(const std::string &words, ImgVerb *verb);

// The command line: [-debug] MAC VERB... IMAGE BACKUP.
struct ImgArgs {
    int debug;
    std::string mac; // 12 hexadecimal digits
    ImgVerb verb;
    std::string image;
    std::string backup;
};

// Reads the words after the program name. Returns 1, or 0 with the run's
// outcome ("usage: ...") in outcome. debug is set from the first word either way.
int img_parse_args(const std::vector<std::string> &words, ImgArgs &args, std::string &outcome);

// What a component file says, checked for form.
struct ImgComponent {
    std::string kind;
    std::string version; // not empty
    std::string pci;     // VVVV-DDDD-SSSS-YYYY, or empty
    SimImageKind image;  // signature kind of the body (pre-boot kinds only)
    const uint8_t *body; // the 64 bytes after the header, inside the file read
};

// Reads a component file. Returns 1, or 0 with a short reason
// ("malformed component: ...").
int img_read_component(const std::vector<uint8_t> &file, ImgComponent &c, std::string &reason);

// The adapter as the library serves it, in NVRAM byte order: identity bytes
// of offsets 260..267 and MAC bytes of offsets 310..315.
struct ImgIdentity {
    uint8_t pci[8];
    uint8_t mac[6];
};

// 1 when the NVRAM image holds this identity and MAC.
int img_same_adapter(const std::vector<uint8_t> &image, const ImgIdentity &adapter);

// The new NVRAM image: the verb applied with the file given as IMAGE (a
// component file, or an NVRAM image for restore) to the current one. Returns
// 1, or 0 with a short reason in reason when the image is refused.
int img_apply(ImgVerb verb, const std::vector<uint8_t> &current, const std::vector<uint8_t> &image,
              const ImgIdentity &adapter, std::vector<uint8_t> &result, std::string &reason);
