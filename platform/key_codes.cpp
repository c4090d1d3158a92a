// X key symbols and their names, translated into the player's key codes.
#include "platform/platform.h"

#include <cstring>

namespace {

struct NamedKey {
    const char* name;
    uint32_t keysym;
    int32_t code;
};

// X key symbols (X11/keysymdef.h and XF86keysym.h); the keypad's own symbols
// count as the main keys they stand for.
const NamedKey KEYS[] = {
    {"Tab", 0xFF09, KEY_TAB},
    {"ISO_Left_Tab", 0xFE20, KEY_TAB},
    {"Return", 0xFF0D, KEY_RETURN},
    {"KP_Enter", 0xFF8D, KEY_RETURN},
    {"Escape", 0xFF1B, KEY_ESCAPE},
    {"space", 0x0020, KEY_SPACE},
    {"KP_Space", 0xFF80, KEY_SPACE},
    {"Prior", 0xFF55, KEY_PAGE_UP},
    {"Page_Up", 0xFF55, KEY_PAGE_UP},
    {"KP_Prior", 0xFF9A, KEY_PAGE_UP},
    {"Next", 0xFF56, KEY_PAGE_DOWN},
    {"Page_Down", 0xFF56, KEY_PAGE_DOWN},
    {"KP_Next", 0xFF9B, KEY_PAGE_DOWN},
    {"End", 0xFF57, KEY_END},
    {"KP_End", 0xFF9C, KEY_END},
    {"Home", 0xFF50, KEY_HOME},
    {"KP_Home", 0xFF95, KEY_HOME},
    {"Left", 0xFF51, KEY_LEFT},
    {"KP_Left", 0xFF96, KEY_LEFT},
    {"Up", 0xFF52, KEY_UP},
    {"KP_Up", 0xFF97, KEY_UP},
    {"Right", 0xFF53, KEY_RIGHT},
    {"KP_Right", 0xFF98, KEY_RIGHT},
    {"Down", 0xFF54, KEY_DOWN},
    {"KP_Down", 0xFF99, KEY_DOWN},
    {"Shift_L", 0xFFE1, KEY_SHIFT},
    {"Shift_R", 0xFFE2, KEY_SHIFT},
    {"Control_L", 0xFFE3, KEY_CONTROL},
    {"Control_R", 0xFFE4, KEY_CONTROL},
    {"Alt_L", 0xFFE9, KEY_ALT},
    {"Alt_R", 0xFFEA, KEY_ALT},
    {"XF86AudioNext", 0x1008FF17, KEY_MEDIA_NEXT},
    {"XF86AudioPrev", 0x1008FF16, KEY_MEDIA_PREVIOUS},
    {"XF86AudioStop", 0x1008FF15, KEY_MEDIA_STOP},
    {"XF86AudioPlay", 0x1008FF14, KEY_MEDIA_PLAY_PAUSE},
    {"XF86AudioPause", 0x1008FF31, KEY_MEDIA_PLAY_PAUSE},
    {"XF86Back", 0x1008FF26, KEY_BROWSER_BACK},
    {"XF86Forward", 0x1008FF27, KEY_BROWSER_FORWARD},
    {"XF86Stop", 0x1008FF28, KEY_BROWSER_STOP},
};

constexpr uint32_t KEYPAD_0 = 0xFFB0;
constexpr uint32_t KEYPAD_9 = 0xFFB9;

} // namespace

int32_t key_code_of_keysym(uint32_t keysym)
{
    if (keysym >= '0' && keysym <= '9')
        return int32_t(keysym);
    if (keysym >= KEYPAD_0 && keysym <= KEYPAD_9)
        return int32_t('0' + keysym - KEYPAD_0);
    if (keysym >= 'A' && keysym <= 'Z')
        return int32_t(keysym);
    if (keysym >= 'a' && keysym <= 'z')
        return int32_t(keysym - 'a' + 'A');
    for (const NamedKey& k : KEYS)
        if (k.keysym == keysym)
            return k.code;
    return KEY_NONE;
}

uint32_t keysym_of_name(const char* name)
{
    if (!name || !name[0])
        return 0;
    // Single letters and digits are their own symbols.
    if (!name[1] && ((name[0] >= '0' && name[0] <= '9') || (name[0] >= 'a' && name[0] <= 'z') ||
                     (name[0] >= 'A' && name[0] <= 'Z')))
        return uint32_t(uint8_t(name[0]));
    if (strncmp(name, "KP_", 3) == 0 && name[3] >= '0' && name[3] <= '9' && !name[4])
        return KEYPAD_0 + uint32_t(name[3] - '0');
    for (const NamedKey& k : KEYS)
        if (strcmp(k.name, name) == 0)
            return k.keysym;
    return 0;
}
