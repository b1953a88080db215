#include "installer/engine/userprompt.h"

UserPrompt::~UserPrompt() = default;
