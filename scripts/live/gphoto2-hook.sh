#!/bin/sh
# gphoto2's --hook-script for a post: each photo gphoto2 has downloaded is put into the folder that
# `swelox-cli --watch` watches, in one rename, so that the watch only ever sees it whole.
#
#   SWELOX_WATCH_FOLDER=photos/today gphoto2 --capture-tethered \
#       --filename 'staging/%Y%m%d-%H%M%S-%n.%C' --hook-script scripts/live/gphoto2-hook.sh
#
# gphoto2 runs it with ACTION set to init, start, download (ARGUMENT: the file just written) and
# stop. SWELOX_WATCH_FOLDER is the watched folder (default: photos); it is made when missing.
# A photo that cannot be moved is reported on standard error and left where gphoto2 wrote it;
# gphoto2 goes on either way.
set -u

case "${ACTION:-}" in
download)
  folder=${SWELOX_WATCH_FOLDER:-photos}
  name=$(basename -- "$ARGUMENT")
  mkdir -p -- "$folder" || exit 1
  # Under a name the watch waits for first (a plain rename on the same file system, a copy
  # otherwise), then renamed to its own.
  if mv -f -- "$ARGUMENT" "$folder/.$name.part" && mv -f -- "$folder/.$name.part" "$folder/$name"
  then
    exit 0
  fi
  echo "gphoto2-hook: could not move $ARGUMENT into $folder" >&2
  exit 1
  ;;
*) exit 0 ;;
esac
