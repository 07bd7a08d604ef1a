// Sound through Qt Multimedia: the wave-output device on the default audio
// output, the delivery of device completions on the main thread, and the
// system sounds.
#pragma once

// Installs all three; call on the main thread with the application running.
void SoundQtInstall();
// Stops what plays and removes them again.
void SoundQtUninstall();
