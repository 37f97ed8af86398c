// SPDX-License-Identifier: BSD-3-Clause
// gst_seek_check FILE.NAB REF.raw CHANNELS RATE FRAME...
//
// Plays FILE.NAB through filesrc ! decodebin ! appsink and checks, against
// REF.raw (the file's audio as `nubo decode` gives it, raw 16-bit), the
// duration in time and in frames, then for each FRAME a flushing seek to
// the first instant of that frame: the first buffer after it starts at that
// frame's time and the samples from there on (up to a second's worth) are
// the reference's. Exit status 0 when every check passed.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int failures = 0;

void fail(const std::string& what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++failures;
}

// An error on the bus, if any, as text.
std::string busError(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  std::string text;
  while (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    GError* error = nullptr;
    gst_message_parse_error(m, &error, nullptr);
    text += error->message;
    g_error_free(error);
    gst_message_unref(m);
  }
  gst_object_unref(bus);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: gst_seek_check FILE.NAB REF.raw CHANNELS RATE FRAME...\n");
    return 2;
  }
  std::ifstream refFile(argv[2], std::ios::binary);
  const std::vector<char> ref((std::istreambuf_iterator<char>(refFile)), std::istreambuf_iterator<char>());
  const int channels = std::atoi(argv[3]);
  const int rate = std::atoi(argv[4]);
  const gint64 frames = static_cast<gint64>(ref.size()) / (2 * channels);

  gchar* location = g_strescape(argv[1], nullptr);
  const std::string description = std::string("filesrc location=\"") + location +
                                  "\" ! decodebin ! appsink name=sink sync=false max-buffers=4 "
                                  "caps=audio/x-raw,format=S16LE";
  g_free(location);
  GError* parseError = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &parseError);
  if (pipeline == nullptr) {
    std::fprintf(stderr, "FAIL: %s\n", parseError->message);
    return 1;
  }
  GstAppSink* sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline), "sink"));
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  // Generous: a loaded machine may take long to preroll.
  if (gst_element_get_state(pipeline, nullptr, nullptr, 120 * GST_SECOND) != GST_STATE_CHANGE_SUCCESS) {
    fail("the pipeline did not start: " + busError(pipeline));
    return 1;
  }

  gint64 duration = -1, durationFrames = -1;
  const gint64 expected = static_cast<gint64>(gst_util_uint64_scale_int(frames, GST_SECOND, rate));
  if (!gst_element_query_duration(pipeline, GST_FORMAT_TIME, &duration) || duration != expected) {
    fail("duration " + std::to_string(duration) + " ns, expected " + std::to_string(expected));
  }
  if (!gst_element_query_duration(pipeline, GST_FORMAT_DEFAULT, &durationFrames) || durationFrames != frames) {
    fail("duration " + std::to_string(durationFrames) + " frames, expected " + std::to_string(frames));
  }

  for (int i = 5; i < argc; ++i) {
    const gint64 frame = std::atoll(argv[i]);
    const std::string where = "seek to frame " + std::to_string(frame);
    // The first instant of the frame (its time rounded up).
    const gint64 at = static_cast<gint64>(gst_util_uint64_scale_int_ceil(frame, GST_SECOND, rate));
    const GstClockTime frameTime = gst_util_uint64_scale_int(frame, GST_SECOND, rate);
    if (!gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), GST_SEEK_TYPE_SET,
                          at, GST_SEEK_TYPE_NONE, -1)) {
      fail(where + ": refused");
      continue;
    }
    if (frame < 0 || frame >= frames) {
      fail(where + ": not a frame of the file");
      continue;
    }
    const gint64 want = std::min<gint64>(rate, frames - frame);
    std::vector<char> got;
    bool first = true;
    while (static_cast<gint64>(got.size()) < want * 2 * channels) {
      GstSample* sample = gst_app_sink_try_pull_sample(sink, 120 * GST_SECOND);
      if (sample == nullptr) break;
      // Samples from before the seek may still be on their way: the
      // seek's segment starts at the frame sought.
      const GstSegment* segment = gst_sample_get_segment(sample);
      if (segment == nullptr || segment->start != frameTime) {
        gst_sample_unref(sample);
        continue;
      }
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      if (first && GST_BUFFER_PTS(buffer) != frameTime) {
        fail(where + ": first buffer at " + std::to_string(GST_BUFFER_PTS(buffer)) + " ns, expected " +
             std::to_string(frameTime));
      }
      first = false;
      GstMapInfo map;
      gst_buffer_map(buffer, &map, GST_MAP_READ);
      got.insert(got.end(), map.data, map.data + map.size);
      gst_buffer_unmap(buffer, &map);
      gst_sample_unref(sample);
    }
    const std::size_t bytes = static_cast<std::size_t>(want * 2 * channels);
    if (got.size() < bytes) {
      fail(where + ": " + std::to_string(got.size()) + " bytes, expected at least " + std::to_string(bytes) + " " +
           busError(pipeline));
      continue;
    }
    if (std::memcmp(got.data(), ref.data() + frame * 2 * channels, bytes) != 0) {
      fail(where + ": the samples differ from the reference");
    }
  }
  const std::string error = busError(pipeline);
  if (!error.empty()) fail("error on the bus: " + error);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  std::printf("%s: %d failure(s)\n", argv[1], failures);
  return failures == 0 ? 0 : 1;
}
