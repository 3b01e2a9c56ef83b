// Windows only: the judgement of a security descriptor that the platform
// layer's trust checks rest on, apart from reading it, so that it can be
// tried on descriptors built from SDDL text.
#pragma once

// 0 when DESCRIPTOR (a SECURITY_DESCRIPTOR) names a trusted owner and lets no
// other account write; else PLAT_ERROR_FOREIGN_OWNER, PLAT_ERROR_OPEN_TO_OTHERS
// or the error code of the token query. IS_DIRECTORY: entries a folder passes
// on to what it will hold count as well.
unsigned long plat_judge_security_descriptor(const void *descriptor, int is_directory);
