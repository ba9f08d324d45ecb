# The bench's default source: drive F: of the prefix holds an SD sample video and a saved graph
# of it with the maker's encoder and decoder in it, under the paths the bench starts with:
#   F:\Ref_movies\Test graphs\Belukha_SD.mp4.grf   (and the video beside it)
#   F:\Ref_movies\TestMovies\                      (where the bench writes Quorlin.mp4)
# Both files are made once and kept. The graph needs the encoder and decoder stand-ins; while
# they are not registered it is left out, and the next set-up tries again.
source "$QUORLIN_ROOT/scripts/common.sh"
drive="$QUORLIN_BUILD/drive-f"
graphs="$drive/Ref_movies/Test graphs"
mkdir -p "$graphs" "$drive/Ref_movies/TestMovies"
mkdir -p "$WINEPREFIX/dosdevices"
if [ "$(readlink "$WINEPREFIX/dosdevices/f:" 2>/dev/null)" != "$drive" ]; then
  rm -f "$WINEPREFIX/dosdevices/f:"
  ln -s "$drive" "$WINEPREFIX/dosdevices/f:"
fi

video="$graphs/Belukha_SD.mp4"
if [ ! -s "$video" ]; then
  echo "== making the sample video $video"
  # 15 s of 720x576 at 25 fps with real motion everywhere, no audio.
  ffmpeg -v error -y -f lavfi -i "mandelbrot=size=720x576:rate=25" -t 15 -an \
         -c:v libx264 -preset veryfast -pix_fmt yuv420p -movflags +faststart "$video.tmp.mp4" &&
    mv "$video.tmp.mp4" "$video" || { rm -f "$video.tmp.mp4"; echo "ffmpeg failed" >&2; exit 1; }
fi

grf="$graphs/Belukha_SD.mp4.grf"
[ -s "$grf" ] && exit 0
tool="$QUORLIN_BUILD/bin/make-grf.exe"
[ -f "$tool" ] || { echo "make-grf not built: $tool" >&2; exit 1; }
# Rendering the video makes a video window: on a machine without a display, use a virtual one.
if [ -z "${DISPLAY:-}" ]; then
  quorlin_start_x || exit 1
  trap quorlin_stop_x EXIT
  # A wineserver left by the earlier hooks has a desktop without a display: end it first.
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
fi
"$WINE" "$tool" 'F:\Ref_movies\Test graphs\Belukha_SD.mp4.grf' 'F:\Ref_movies\Test graphs\Belukha_SD.mp4' </dev/null
rc=$?
"$WINESERVER" -w   # the wineserver started here must not outlive the virtual display
case $rc in
  0) echo "== saved the sample graph $grf" ;;
  2) echo "== sample graph skipped: the encoder and decoder stand-ins are not registered yet" ;;
  *) echo "make-grf failed ($rc)" >&2; exit 1 ;;
esac
