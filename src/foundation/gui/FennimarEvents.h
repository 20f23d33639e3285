#pragma once

// The state of the modifier keys in the user action being handled.
namespace FennimarEvents {

// True when Alt (Option) is held in the event being handled: the application's
// keyboard modifiers as of the last input event it processed. Meaningful only while a
// user action is being handled.
bool isOptionPressed();

} // namespace FennimarEvents
