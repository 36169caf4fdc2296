#pragma once

// What main() does once the application object exists: make sure this is the
// user's only running instance, build the main object and run the event
// loop. Returns the process's exit code.
int runTrelvant();
