// Playing an applet whose body is a scene (scene.h): the ad goes up, the
// surfaces are tessellated one per heartbeat with the progress on the ad's
// bar, the ad comes down and reports, and the pictures are written.
#pragma once

#include <string>

namespace sxplayer {

// Exit codes of a play.
enum PlayExit {
    kPlayed = 0,
    kBadScene = 3,       // the body is a broken scene
    kNoTessellator = 4,  // ruvane missing or refusing to start
    kAdFailed = 5,       // the ad could not be shown or its screenshot taken
    kSurfaceFailed = 6,  // a surface gave no triangle
    kPictureFailed = 7,  // an output file could not be written
};

// `output` is a folder (Windows path) for the pictures and the log; empty:
// no pictures, the log goes to standard output. An applet that cannot be
// read or holds no scene is not played and ends with kPlayed.
int play_applet(const std::string& applet, const std::string& output);

}  // namespace sxplayer
