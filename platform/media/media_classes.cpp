#include "platform/media/media_classes.h"

void RegisterMediaClasses() {}
