"""Encoder test reports: a matrix of clips and settings run through the bench's console
program, every output measured with ffmpeg/ffprobe, written as JSON, CSV and one HTML page,
and compared with an earlier run."""
