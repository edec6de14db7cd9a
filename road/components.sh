# Sourced by scripts/package.sh and road/road-wine.sh: the components of the
# release, one per line: name, version, the key of its install hook (or -),
# then its index entries KEY=RELPATH (relative to the component directory;
# cmake/package.cmake puts the files there).
# The stand-in player is the run file of "interpreter1" (applets with old
# headers) and of "interpreter2", the newer run component of the samples.
sx_components=(
  "interpreter1 1 - run=player/sxplayer.exe"
  "interpreter2 3 - run=player/sxplayer.exe"
  "skiff 1 skiffhook skiff=skiff/Stellarix3D.exe skiffhook=skiff/skiffhook.dll"
  "ruvane 1 - library=ruvane/ruvane.dll"
  "advertising 1 - library=advertising/advertising.dll default_ad=advertising/default_ad.gif"
  "pixmill 1 - library=pixmill/pixmill.dll"
  "legalinfo 1 - legalinfo=legal/legal.txt"
  "controlpanel 1 library library=controlpanel/stellarix.cpl fish=controlpanel/test_ball.sxvm"
  "uninstaller 1 purgehook uninstaller=Uninstall/uninstaller.exe purgehook=Uninstall/purgehook.dll"
)

# The component directory of the release, below the package folder.
sx_release_components="Stellarix Player/components"
