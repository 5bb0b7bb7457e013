#!/bin/sh
# Writes the music importer's test inputs into this folder: a tenth of a
# second of mono silence at 44.1 kHz (sox), encoded and tagged by each
# format's Debian tool. Run from this folder: sh make_audio_samples.sh
set -e
T="Herd Song"; A="Ann Artist"; L="Cattle Album"; G="Folk"; Y=2024; C="Grazing notes"
sox -n -r 44100 -c 1 -b 16 silence.wav trim 0 0.1
lame --quiet -b 32 --id3v2-only --tt "$T" --ta "$A" --tl "$L" --ty $Y --tg "$G" --tc "$C" --tn 3 silence.wav tagged.mp3
flac --silent -f -T "TITLE=$T" -T "ARTIST=$A" -T "ARTIST=Bob Player" -T "ALBUM=$L" -T "DATE=$Y" -T "GENRE=$G" \
  -T "COMMENT=$C" -T "COMPOSER=Carl Composer" -T "TRACKNUMBER=3" -o tagged.flac silence.wav
oggenc -Q --serial 1 -q 0 -t "$T" -a "$A" -l "$L" -d $Y -G "$G" -c "COMMENT=$C" -N 3 -o tagged.ogg silence.wav
opusenc --quiet --serial 1 --title "$T" --artist "$A" --album "$L" --date $Y --genre "$G" --comment "COMMENT=$C" \
  --comment TRACKNUMBER=3 silence.wav tagged.opus
M="-metadata title=$T -metadata artist=$A -metadata album=$L -metadata date=$Y -metadata genre=$G -metadata comment=$C -metadata track=3"
ffmpeg -loglevel error -y -i silence.wav -c:a aac -b:a 32k -map_metadata -1 -fflags +bitexact -flags:a +bitexact \
  -metadata "title=$T" -metadata "artist=$A" -metadata "album=$L" -metadata "date=$Y" -metadata "genre=$G" \
  -metadata "comment=$C" -metadata "track=3" tagged.m4a
ffmpeg -loglevel error -y -i silence.wav -fflags +bitexact -flags:a +bitexact -write_id3v2 1 \
  -metadata "title=$T" -metadata "artist=$A" -metadata "album=$L" -metadata "date=$Y" -metadata "genre=$G" \
  -metadata "comment=$C" -metadata "track=3" tagged.aiff
ffmpeg -loglevel error -y -i silence.wav -fflags +bitexact -flags:a +bitexact \
  -metadata "title=$T" -metadata "artist=$A" -metadata "album=$L" -metadata "date=$Y" -metadata "genre=$G" \
  -metadata "comment=$C" tagged.wav
# Hostile: an MP3 cut in the middle of its tag, and one whose ID3v2 comment
# holds 100 MB (not committed: the test writes it, see formats_importers_test.cpp).
head -c 60 tagged.mp3 > truncated.mp3
rm silence.wav
