#!/bin/sh
# Scheduled daily run: fetch the guide, then send it to the recorder.
# The download must have finished before the upload starts; pallaro --download
# returns only when its fetch has ended.
set -e
pallaro="${PALLARO:-pallaro}"
"$pallaro" --download
"$pallaro" --upload
