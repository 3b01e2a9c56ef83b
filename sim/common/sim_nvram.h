// The NVRAM image format of the simulated adapters, shared by the simulated
// library (which serves it), simtool (which writes and shows it) and the
// simulated writer tool. An image is a plain file, file offset = NVRAM offset,
// every multi-byte value big-endian. Fixed places:
//
//   0x000   4  magic 0x669955AA
//   0x018 192  directory: 16 entries of 12 bytes (type << 28, image offset, image length)
//   0x104   8  PCI vendor, device, subsystem, subsystem vendor (2 bytes each)
//   0x136   6  MAC address
//   0x200  32  boot code version text, NUL-terminated
//   0x220  32  pre-boot (PXE, CLP or iSCSI) version text, NUL-terminated
//   0x240  32  UMP version text, NUL-terminated
//   0x400      images, at the offsets the directory names
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "adapter/ombri.h"

constexpr uint32_t SIM_NV_BOOTCODE_TEXT_OFFSET = 0x200;
constexpr uint32_t SIM_NV_PREBOOT_TEXT_OFFSET = 0x220;
constexpr uint32_t SIM_NV_UMP_TEXT_OFFSET = 0x240;
constexpr uint32_t SIM_NV_TEXT_SIZE = 32;
// An image must hold at least the header up to the end of the version texts.
constexpr uint32_t SIM_NV_MIN_SIZE = SIM_NV_UMP_TEXT_OFFSET + SIM_NV_TEXT_SIZE;
constexpr uint32_t SIM_NV_IMAGES_OFFSET = 0x400;
constexpr uint32_t SIM_NV_MAX_SIZE = 1048576;
constexpr uint32_t SIM_NV_IMAGE_SIZE = 64; // each pre-boot image simtool writes

static_assert(NVRAM_DIR_OFFSET + NVRAM_DIR_ENTRIES * NVRAM_DIR_ENTRY_SIZE <= NVRAM_VENDOR_ID_OFFSET,
              "directory ends before the identity");
static_assert(NVRAM_MAC_OFFSET + 6 <= SIM_NV_BOOTCODE_TEXT_OFFSET, "MAC ends before the texts");
static_assert(SIM_NV_MIN_SIZE <= SIM_NV_IMAGES_OFFSET, "texts end before the images");

// Image signature words (at image offset +32, +36, +40).
constexpr uint32_t SIM_SIG_PXE = 0x49444E55;
constexpr uint32_t SIM_SIG_ISCSI_0 = 0x49534353; // top byte 0x49
constexpr uint32_t SIM_SIG_ISCSI_1 = 0x20544253;
constexpr uint32_t SIM_SIG_ISCSI_2 = 0x00202020; // low 24 bits 0x202020
constexpr uint32_t SIM_SIG_CLP_0 = 0x434C5020;   // top byte 0x43
constexpr uint32_t SIM_SIG_CLP_1 = 0x4820504C;
constexpr uint32_t SIM_SIG_CLP_2 = 0x00205244; // low 24 bits 0x205244

// What an image is, by the three signature words.
enum SimImageKind { SIM_IMAGE_NONE = 0, SIM_IMAGE_PXE, SIM_IMAGE_CLP, SIM_IMAGE_ISCSI };

// One directory entry to write: its type (0 to 15), and the image it points to.
// offset 0 means "next free place"; sig holds the three signature words.
struct SimNvEntry {
    uint32_t type;
    uint32_t offset;
    uint32_t sig[3];
};

// Everything simtool can put into an image.
struct SimNvSpec {
    uint16_t pci[4]; // vendor, device, subsystem vendor, subsystem (text order)
    uint8_t mac[6];
    char bootcode[SIM_NV_TEXT_SIZE];
    char preboot[SIM_NV_TEXT_SIZE];
    char ump[SIM_NV_TEXT_SIZE];
    std::vector<SimNvEntry> entries; // directory slots 0, 1, ... in this order
    uint32_t size;                   // 0: just large enough
};

uint32_t sim_get_be32(const uint8_t *p);
uint16_t sim_get_be16(const uint8_t *p);
void sim_put_be32(uint8_t *p, uint32_t value);
void sim_put_be16(uint8_t *p, uint16_t value);

// Signature words of a kind of image (PXE's second and third word are zero).
void sim_signature_words(SimImageKind kind, uint32_t sig[3]);
// Classifies three signature words with the rules the utility applies.
SimImageKind sim_classify_signature(const uint32_t sig[3]);
const char *sim_image_kind_name(SimImageKind kind);

// Builds the image bytes. Returns 1, or 0 with a message in error (a text that
// does not fit, more than 16 entries, an entry type above 15, a size that
// cannot hold the header or above SIM_NV_MAX_SIZE).
int sim_nvram_build(const SimNvSpec &spec, std::vector<uint8_t> &image, std::string &error);

// Whole-file helpers. They return 1, or 0 with a one-line message in error
// that names the file.
int sim_read_file(const std::string &path, std::vector<uint8_t> &data, std::string &error);
int sim_write_file(const std::string &path, const std::vector<uint8_t> &data, std::string &error);

// Checks that data is a usable NVRAM image: size between SIM_NV_MIN_SIZE and
// SIM_NV_MAX_SIZE, the magic, and each version text NUL-terminated.
int sim_nvram_check(const std::string &path, const std::vector<uint8_t> &data, std::string &error);
// The same; with texts_need_nul 0 a version text may fill its 32 bytes.
int sim_nvram_check_texts(const std::string &path, const std::vector<uint8_t> &data,
                          int texts_need_nul, std::string &error);

// Parses "VVVV-DDDD-SSSS-YYYY" (vendor, device, subsystem vendor, subsystem, hex).
int sim_parse_pci(const char *text, uint16_t pci[4]);
// Parses 12 hexadecimal digits (either case) into six bytes.
int sim_parse_mac(const char *text, uint8_t mac[6]);
// Parses a whole unsigned number (decimal, 0x hex, or 0 octal) up to max.
int sim_parse_number(const char *text, unsigned long max, unsigned long *value);

// Component image files (what the catalogue will name and the simulated writer
// tool will write): a 128-byte header, then a 64-byte body.
//   0   16  tag "SIM-COMPONENT", NUL-padded
//   16  16  kind: bootcode, pxe, ump, clp, iscsi or iscsistub, NUL-padded
//   32  32  version text, NUL-terminated
//   64  20  PCI identity text VVVV-DDDD-SSSS-YYYY, or empty
//   128 64  body; for pxe, clp, iscsi and iscsistub the pre-boot image as it
//           goes into the NVRAM, its signature at +32, +36, +40
constexpr const char *SIM_COMPONENT_TAG = "SIM-COMPONENT";
constexpr uint32_t SIM_COMPONENT_KIND_OFFSET = 16;
constexpr uint32_t SIM_COMPONENT_VERSION_OFFSET = 32;
constexpr uint32_t SIM_COMPONENT_PCI_OFFSET = 64;
constexpr uint32_t SIM_COMPONENT_HEADER_SIZE = 128;
constexpr uint32_t SIM_COMPONENT_SIZE = SIM_COMPONENT_HEADER_SIZE + SIM_NV_IMAGE_SIZE;

// Fills a 64-byte pre-boot image body (filler, type word, signature).
void sim_image_body(uint32_t type, const uint32_t sig[3], uint8_t body[SIM_NV_IMAGE_SIZE]);

// Builds a component file. kind as above; pci may be empty. Returns 1, or 0
// with a message in error (also for a text holding a NUL byte).
int sim_component_build(const std::string &kind, const std::string &version, const std::string &pci,
                        std::vector<uint8_t> &file, std::string &error);
// 1 when data starts with the component tag and is large enough.
int sim_is_component(const std::vector<uint8_t> &data);
