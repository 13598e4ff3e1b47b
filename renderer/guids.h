// The Vistarend class.
#pragma once

#include "wintypes.h"

// {90A0ACB7-6A89-46C8-BB4D-3899FFDD2BE5}
inline constexpr CLSID CLSID_ParvixVideoRenderer = {0x90A0ACB7, 0x6A89, 0x46C8,
                                                    {0xBB, 0x4D, 0x38, 0x99, 0xFF, 0xDD, 0x2B, 0xE5}};
