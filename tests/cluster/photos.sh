# Sourced by the cluster tests: make_photos FOLDER COUNT SAMPLES [SCALE] makes COUNT small JPEG
# photos IMG_1.jpg ... in FOLDER from the sample photos in SAMPLES, 15 distinct ones in turn
# (djpeg scales them down, 1/8 by default, and cjpeg writes them at three qualities), quickly.
make_photos() {
  local folder="$1" count="$2" samples="$3" scale="${4:-1/8}" i=0 sample quality
  mkdir -p "$folder"
  local bases=()
  for sample in "$samples"/*.jpg; do
    for quality in 60 75 90; do
      bases+=("$folder/.base-$i.jpg")
      djpeg -scale "$scale" "$sample" | cjpeg -quality "$quality" >"$folder/.base-$i.jpg"
      i=$((i + 1))
    done
  done
  for i in $(seq 1 "$count"); do
    cp "${bases[$((i % ${#bases[@]}))]}" "$folder/IMG_$i.jpg"
  done
  rm -f "$folder"/.base-*.jpg
}
