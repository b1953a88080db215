#ifndef ZARVO_WIZARD_ACCESSIBLENOTE_H
#define ZARVO_WIZARD_ACCESSIBLENOTE_H

// A label that says why a page cannot go on (a red note, marked in the form
// with the property "accessibleNote") reaches assistive technology as a
// notification, which a screen reader announces when it appears: the user
// hears why Next has just been disabled. To be called before such a label is
// made.
void presentNotesAsNotifications();

#endif
