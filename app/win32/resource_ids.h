#pragma once
// Resource numbers of keluflash.rc (read by the resource compiler too, so
// plain macros).
#define KELUFLASH_ICON 1
#define KELUFLASH_BITMAP_OPEN 101
#define KELUFLASH_BITMAP_START 102
#define KELUFLASH_BITMAP_EXIT 103
