// The working folder as the stop will find it: what cannot be saved there is
// said at the start, so that nobody learns it only when the run is over.
#pragma once

// Says on standard error when the working folder cannot be written, or when
// a folder stands where a kept file goes, and what will not be kept for it;
// true when anything was said.
bool HostSayUnkeptFiles();
