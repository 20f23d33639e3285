#pragma once

#include <QtGlobal>

// The state of the modifier keys and mouse button in the user action being handled.
//
// The modifiers are those of the input event (key, mouse, wheel, touch) the application
// is delivering or delivered last, as carried by the event itself; before any input
// event they are the keyboard's current state. Meaningful only while a user action is
// being handled.
namespace FennimarEvents {

// The modifier flags as the library has always numbered them.
inline constexpr quint32 ShiftKeyMask = 0x20000;
inline constexpr quint32 ControlKeyMask = 0x40000;
inline constexpr quint32 OptionKeyMask = 0x80000;   // Alt
inline constexpr quint32 CommandKeyMask = 0x100000; // the Super (Meta) key

// The modifier flags of the event being handled, as the masks above.
quint32 modifierFlags();

bool isShiftPressed();
bool isCommandPressed();
bool isControlPressed();
bool isOptionPressed();

// Logs "FennimarEvents.isMouseDown DOES NOT WORK!!!" and two lines beginning
// "[currentEvent buttonNumber]", and answers whether the button of the event being
// handled is number 1 (0 is the left button, 1 the right one, 2 the middle one): it has
// never told whether a button is held.
bool isMouseDown();

} // namespace FennimarEvents
