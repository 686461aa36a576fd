#pragma once
// A core file of Postira would hold the mail password and the sign-in's tokens in clear: both programs
// turn core dumps off as the first thing they do.

// Marks the process as not dumpable and sets its core file size limit to 0. Failures are ignored: a
// system that refuses has no core dumps to turn off, or nothing the program could do about it.
void TurnOffCoreDumps();
