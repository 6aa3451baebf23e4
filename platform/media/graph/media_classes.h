// Registers the media platform's classes (the filter graph manager, the
// colour space converter and the sample renderer component) in the class
// registry. The process entry calls it once before the first command.
#pragma once

void RegisterMediaClasses();
