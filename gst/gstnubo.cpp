// SPDX-License-Identifier: BSD-3-Clause
// The GStreamer plug-in "nubo": a type finder for .NAB files (audio/x-nab,
// by the RIFF header and the format tag 0x8A3A) and the element "nubodec",
// which turns a .NAB byte stream into raw 16-bit audio.
//
// nubodec reads its input through the converter's NabReader: the header, the
// block index (walked by size fields) and every block decoded by
// NuboWaveConvert. When the element upstream gives random access (filesrc,
// and typefind or decodebin after it) the reader works on pulled ranges, so
// the stream has a duration and seeks land on the block that holds the
// position (the samples before it in that block are dropped). Otherwise the
// bytes pushed are gathered and decoded at their end, without seeking.
#include <gst/audio/audio.h>
#include <gst/base/gstadapter.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "nab_reader.h"

using nubo::converter::ByteSource;
using nubo::converter::MemorySource;
using nubo::converter::NabReader;

GST_DEBUG_CATEGORY_STATIC(nubodec_debug);
#define GST_CAT_DEFAULT nubodec_debug

namespace {

constexpr const char* kNabCaps = "audio/x-nab";
constexpr uint16_t kFormatTag = 0x8A3A;
constexpr guint kPullChunk = 64 * 1024;

// The bytes of the element upstream, pulled in chunks of 64 KiB at the
// offsets the reader asks for.
class PulledSource : public ByteSource {
 public:
  explicit PulledSource(GstPad* sinkpad) : pad_(sinkpad) {
    GstQuery* q = gst_query_new_duration(GST_FORMAT_BYTES);
    gint64 bytes = -1;
    if (gst_pad_peer_query(pad_, q)) gst_query_parse_duration(q, nullptr, &bytes);
    gst_query_unref(q);
    size_ = bytes;
  }
  ~PulledSource() override { release(); }

  std::size_t read(uint8_t* into, std::size_t n) override {
    std::size_t done = 0;
    while (done < n) {
      if (!fill()) break;
      const std::size_t from = static_cast<std::size_t>(at_ - chunkStart_);
      const std::size_t take = std::min(n - done, static_cast<std::size_t>(map_.size) - from);
      std::memcpy(into + done, map_.data + from, take);
      done += take;
      at_ += static_cast<int64_t>(take);
    }
    return done;
  }
  int get() override {
    if (!fill()) return -1;
    return map_.data[at_++ - chunkStart_];
  }
  // Skipping needs no bytes when the length is known: only the end is checked.
  bool skip(int64_t n) override {
    if (size_ < 0) return ByteSource::skip(n);
    if (n < 0 || at_ + n > size_) {
      at_ = size_;
      return false;
    }
    at_ += n;
    return true;
  }
  int64_t size() const override { return size_; }
  int64_t position() const override { return at_; }
  bool seek(int64_t offset) override {
    if (offset < 0) return false;
    at_ = offset;
    return true;
  }
  // What the last pull returned: a flush or an error upstream is no end of the stream.
  GstFlowReturn lastFlow() const { return lastFlow_; }

 private:
  // Makes the chunk hold the byte at at_; false at the end or on a failed pull.
  bool fill() {
    if (chunk_ != nullptr && at_ >= chunkStart_ && at_ < chunkStart_ + static_cast<int64_t>(map_.size)) return true;
    release();
    if (size_ >= 0 && at_ >= size_) return false;
    GstBuffer* buffer = nullptr;
    lastFlow_ = gst_pad_pull_range(pad_, static_cast<guint64>(at_), kPullChunk, &buffer);
    if (lastFlow_ != GST_FLOW_OK) return false;
    if (!gst_buffer_map(buffer, &map_, GST_MAP_READ)) {
      gst_buffer_unref(buffer);
      lastFlow_ = GST_FLOW_ERROR;
      return false;
    }
    if (map_.size == 0) {
      gst_buffer_unmap(buffer, &map_);
      gst_buffer_unref(buffer);
      return false;
    }
    chunk_ = buffer;
    chunkStart_ = at_;
    return true;
  }
  void release() {
    if (chunk_ == nullptr) return;
    gst_buffer_unmap(chunk_, &map_);
    gst_buffer_unref(chunk_);
    chunk_ = nullptr;
  }

  GstPad* pad_;
  int64_t size_ = -1;
  int64_t at_ = 0;
  GstBuffer* chunk_ = nullptr;
  GstMapInfo map_{};
  int64_t chunkStart_ = 0;
  GstFlowReturn lastFlow_ = GST_FLOW_OK;
};

// What the element keeps between calls. Everything but `frames` and
// `rate` is used only by the streaming thread, or under its stream lock.
struct DecoderState {
  std::unique_ptr<ByteSource> source;
  GstBuffer* gathered = nullptr;  // push mode: the whole stream, mapped at its end
  GstMapInfo gatheredMap{};
  NabReader reader;
  bool opened = false;
  bool pullMode = false;
  int64_t nextBlock = 0;
  int64_t dropSamples = 0;  // samples of the next block before the position sought
  int16_t carry = 0;        // a sample of a frame that the last block split
  bool hasCarry = false;
  int64_t emittedFrames = 0;  // the frame the next buffer begins with
  int64_t stopFrame = -1;     // the segment's stop, as a frame (-1: none)
  bool needSegment = true;
  bool needTags = false;
  bool discont = true;
  guint32 seekSeqnum = GST_SEQNUM_INVALID;
  GstSegment segment;
  // Read by queries on other threads, under the object lock.
  int64_t frames = -1;
  int32_t rate = 0;

  void releaseGathered() {
    if (gathered == nullptr) return;
    gst_buffer_unmap(gathered, &gatheredMap);
    gst_buffer_unref(gathered);
    gathered = nullptr;
  }
  void reset() {
    source.reset();
    releaseGathered();
    opened = false;
    nextBlock = 0;
    dropSamples = 0;
    hasCarry = false;
    emittedFrames = 0;
    stopFrame = -1;
    needSegment = true;
    needTags = false;
    discont = true;
    seekSeqnum = GST_SEQNUM_INVALID;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    frames = -1;
    rate = 0;
  }
};

}  // namespace

G_BEGIN_DECLS
#define GST_TYPE_NUBO_DEC (gst_nubo_dec_get_type())
G_DECLARE_FINAL_TYPE(GstNuboDec, gst_nubo_dec, GST, NUBO_DEC, GstElement)
G_END_DECLS

struct _GstNuboDec {
  GstElement parent;
  GstPad* sinkpad;
  GstPad* srcpad;
  GstAdapter* adapter;  // push mode: the bytes so far
  DecoderState* state;
};

G_DEFINE_TYPE(GstNuboDec, gst_nubo_dec, GST_TYPE_ELEMENT)

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-nab"));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_SOMETIMES,
                            GST_STATIC_CAPS("audio/x-raw, format = (string) S16LE, layout = (string) interleaved, "
                                            "rate = (int) [ 1, MAX ], channels = (int) [ 1, 2 ]"));

namespace {

GstClockTime framesToTime(int64_t frames, int32_t rate) {
  return gst_util_uint64_scale_int(static_cast<guint64>(frames), GST_SECOND, rate);
}

// A pull that failed for another reason than the end of the stream: a
// flush for a seek, or an error that upstream posts itself. GST_FLOW_OK
// when there was none (the stream's own bytes are at fault).
GstFlowReturn upstreamFailure(const DecoderState& s) {
  const auto* pulled = dynamic_cast<const PulledSource*>(s.source.get());
  if (pulled == nullptr || pulled->lastFlow() == GST_FLOW_EOS) return GST_FLOW_OK;
  return pulled->lastFlow();
}

// The reader's problem as an element error.
void postReaderError(GstNuboDec* self) {
  const NabReader& r = self->state->reader;
  switch (r.problem()) {
    case NabReader::Problem::Damaged:
      GST_ELEMENT_ERROR(self, STREAM, DECODE, ("Damaged .NAB file: block %" G_GINT64_FORMAT " does not decode",
                                               r.failedBlock()),
                        ("block %" G_GINT64_FORMAT " at byte offset %" G_GINT64_FORMAT ": %s", r.failedBlock(),
                         r.failedOffset(), r.detail().c_str()));
      break;
    case NabReader::Problem::EndsInHeader:
      GST_ELEMENT_ERROR(self, STREAM, DECODE, ("Damaged .NAB file: it ends inside its header"), (nullptr));
      break;
    default:
      GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("Not a .NAB file this decoder can read: %s", r.detail().c_str()),
                        (nullptr));
      break;
  }
}

void postWalkDamage(GstNuboDec* self) {
  const NabReader& r = self->state->reader;
  GST_ELEMENT_ERROR(self, STREAM, DECODE,
                    ("Damaged .NAB file: block %" G_GINT64_FORMAT " is cut short", r.damagedBlock()),
                    ("block %" G_GINT64_FORMAT " at byte offset %" G_GINT64_FORMAT
                     ": the file ends inside it, or its size field cannot be a block's",
                     r.damagedBlock(), r.damagedOffset()));
}

gboolean srcEvent(GstPad* pad, GstObject* parent, GstEvent* event);
gboolean srcQuery(GstPad* pad, GstObject* parent, GstQuery* query);

// Opens the reader on the source and sets the output caps. False after
// posting an error.
bool openReader(GstNuboDec* self, ByteSource& source) {
  DecoderState& s = *self->state;
  if (!s.reader.open(source)) {
    if (upstreamFailure(s) == GST_FLOW_OK) postReaderError(self);
    return false;
  }
  // A flush during the walk ended it early: the index is not the stream's.
  if (upstreamFailure(s) != GST_FLOW_OK) return false;
  GST_OBJECT_LOCK(self);
  s.frames = s.reader.frameCount();
  s.rate = s.reader.sampleRate();
  GST_OBJECT_UNLOCK(self);
  s.opened = true;
  GST_INFO_OBJECT(self, "%d channels, %d Hz, coder version %d, %" G_GINT64_FORMAT " blocks, %" G_GINT64_FORMAT
                        " frames",
                  s.reader.channels(), s.reader.sampleRate(), s.reader.header().coderVersion, s.reader.blockCount(),
                  s.reader.frameCount());

  // The source pad appears once its caps are known, as a demuxer's does: a
  // bin that plugs elements (decodebin) links or blocks it when it is
  // added, before anything is pushed through it.
  GstPad* pad = gst_pad_new_from_static_template(&src_template, "src");
  gst_pad_set_event_function(pad, srcEvent);
  gst_pad_set_query_function(pad, srcQuery);
  gst_pad_use_fixed_caps(pad);
  gst_pad_set_active(pad, TRUE);
  gchar* streamId = gst_pad_create_stream_id(pad, GST_ELEMENT(self), nullptr);
  gst_pad_push_event(pad, gst_event_new_stream_start(streamId));
  g_free(streamId);
  GstAudioInfo info;
  gst_audio_info_init(&info);
  gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16LE, s.reader.sampleRate(), s.reader.channels(), nullptr);
  GstCaps* caps = gst_audio_info_to_caps(&info);
  gst_pad_push_event(pad, gst_event_new_caps(caps));
  gst_caps_unref(caps);
  self->srcpad = pad;
  gst_element_add_pad(GST_ELEMENT(self), pad);
  gst_element_no_more_pads(GST_ELEMENT(self));
  s.needTags = true;
  return true;
}

// Decodes the next block and pushes its audio from the position sought on,
// in whole frames. GST_FLOW_EOS after the last block (or the segment's stop).
GstFlowReturn pushNextBlock(GstNuboDec* self) {
  DecoderState& s = *self->state;
  NabReader& r = s.reader;
  if (s.needSegment) {
    GstEvent* segment = gst_event_new_segment(&s.segment);
    if (s.seekSeqnum != GST_SEQNUM_INVALID) gst_event_set_seqnum(segment, s.seekSeqnum);
    gst_pad_push_event(self->srcpad, segment);
    s.needSegment = false;
  }
  if (s.needTags) {
    // After the segment: the order of sticky events.
    GstTagList* tags = gst_tag_list_new(GST_TAG_AUDIO_CODEC, "nubo lossless audio", GST_TAG_CONTAINER_FORMAT, "NAB",
                                        nullptr);
    gst_tag_list_set_scope(tags, GST_TAG_SCOPE_GLOBAL);
    gst_pad_push_event(self->srcpad, gst_event_new_tag(tags));
    s.needTags = false;
  }
  if (s.stopFrame >= 0 && s.emittedFrames >= s.stopFrame) return GST_FLOW_EOS;
  if (s.nextBlock >= r.blockCount()) {
    if (r.damagedBlock() != 0) {
      postWalkDamage(self);
      return GST_FLOW_ERROR;
    }
    return GST_FLOW_EOS;
  }
  const int channels = r.channels();
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 2 * (NUBO_MAX_SAMPLES + 1), nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  auto* out = reinterpret_cast<int16_t*>(map.data);
  // The block is decoded after the carried sample; the samples before the
  // position sought are then moved out.
  const int n = r.decodeBlock(s.nextBlock, out + 1);
  if (n < 0) {
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    if (const GstFlowReturn upstream = upstreamFailure(s); upstream != GST_FLOW_OK) return upstream;
    postReaderError(self);
    return GST_FLOW_ERROR;
  }
  ++s.nextBlock;
  int start = 1;
  int count = n;
  if (s.dropSamples > 0) {
    const int drop = static_cast<int>(std::min<int64_t>(s.dropSamples, n));
    start += drop;
    count -= drop;
    s.dropSamples -= drop;
  } else if (s.hasCarry) {
    out[0] = s.carry;
    start = 0;
    ++count;
  }
  s.hasCarry = false;
  // A block length that is not a whole number of frames splits a frame
  // between two blocks: its first sample waits for the next block.
  const int whole = count - count % channels;
  if (whole < count) {
    s.carry = out[start + whole];
    s.hasCarry = true;
  }
  int64_t frames = whole / channels;
  if (s.stopFrame >= 0) frames = std::min(frames, s.stopFrame - s.emittedFrames);
  if (frames <= 0) {
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    return GST_FLOW_OK;
  }
  if (start > 0) std::memmove(out, out + start, static_cast<std::size_t>(2 * frames * channels));
  gst_buffer_unmap(buffer, &map);
  gst_buffer_resize(buffer, 0, 2 * frames * channels);
  const int32_t rate = r.sampleRate();
  GST_BUFFER_PTS(buffer) = framesToTime(s.emittedFrames, rate);
  GST_BUFFER_DURATION(buffer) = framesToTime(s.emittedFrames + frames, rate) - GST_BUFFER_PTS(buffer);
  GST_BUFFER_OFFSET(buffer) = static_cast<guint64>(s.emittedFrames);
  GST_BUFFER_OFFSET_END(buffer) = static_cast<guint64>(s.emittedFrames + frames);
  if (s.discont) {
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    s.discont = false;
  }
  s.emittedFrames += frames;
  GST_OBJECT_LOCK(self);
  s.segment.position = framesToTime(s.emittedFrames, rate);
  GST_OBJECT_UNLOCK(self);
  return gst_pad_push(self->srcpad, buffer);
}

void finishStream(GstNuboDec* self, GstFlowReturn flow) {
  if (self->srcpad == nullptr) return;  // the stream never opened; its error is posted
  if (flow == GST_FLOW_EOS) {
    GstEvent* eos = gst_event_new_eos();
    if (self->state->seekSeqnum != GST_SEQNUM_INVALID) gst_event_set_seqnum(eos, self->state->seekSeqnum);
    gst_pad_push_event(self->srcpad, eos);
  } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
    if (flow != GST_FLOW_ERROR) GST_ELEMENT_FLOW_ERROR(self, flow);
    gst_pad_push_event(self->srcpad, gst_event_new_eos());
  }
}

// The streaming thread in pull mode (the reader opened at the pad's
// activation): one block a turn.
void pullLoop(GstNuboDec* self) {
  DecoderState& s = *self->state;
  const GstFlowReturn flow = pushNextBlock(self);
  if (flow == GST_FLOW_OK) return;
  GST_DEBUG_OBJECT(self, "pausing at block %" G_GINT64_FORMAT ": %s", s.nextBlock, gst_flow_get_name(flow));
  gst_pad_pause_task(self->sinkpad);
  finishStream(self, flow);
}

// Push mode: at the end of the stream the bytes gathered are decoded whole.
GstFlowReturn decodeGathered(GstNuboDec* self) {
  DecoderState& s = *self->state;
  const gsize available = gst_adapter_available(self->adapter);
  if (available == 0) {
    GST_ELEMENT_ERROR(self, STREAM, DECODE, ("Empty .NAB stream"), (nullptr));
    return GST_FLOW_ERROR;
  }
  s.gathered = gst_adapter_take_buffer(self->adapter, available);
  gst_buffer_map(s.gathered, &s.gatheredMap, GST_MAP_READ);
  s.source = std::make_unique<MemorySource>(std::span<const uint8_t>(s.gatheredMap.data, s.gatheredMap.size));
  if (!openReader(self, *s.source)) return GST_FLOW_ERROR;
  GstFlowReturn flow;
  while ((flow = pushNextBlock(self)) == GST_FLOW_OK) {
  }
  return flow;
}

gboolean sinkActivate(GstPad* pad, GstObject*) {
  GstQuery* query = gst_query_new_scheduling();
  const bool pull = gst_pad_peer_query(pad, query) &&
                    gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
  gst_query_unref(query);
  return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

gboolean sinkActivateMode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
  GstNuboDec* self = GST_NUBO_DEC(parent);
  if (mode == GST_PAD_MODE_PUSH) {
    self->state->pullMode = false;
    return TRUE;
  }
  if (mode != GST_PAD_MODE_PULL) return FALSE;
  if (!active) return gst_pad_stop_task(pad);
  DecoderState& s = *self->state;
  s.pullMode = true;
  s.needSegment = true;
  // The stream is opened here, in the change to PAUSED, rather than on the
  // streaming thread: a stream this element cannot read then fails the
  // state change itself, after posting its error. Posted from the streaming
  // thread, the error can reach an application before it waits for
  // messages, and one that waits afterwards never sees it (gst-launch-1.0
  // then waits for ever).
  if (!s.opened) {
    s.source = std::make_unique<PulledSource>(pad);
    if (!openReader(self, *s.source)) return FALSE;
  }
  return gst_pad_start_task(pad, reinterpret_cast<GstTaskFunction>(pullLoop), self, nullptr);
}

GstFlowReturn sinkChain(GstPad*, GstObject* parent, GstBuffer* buffer) {
  gst_adapter_push(GST_NUBO_DEC(parent)->adapter, buffer);
  return GST_FLOW_OK;
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstNuboDec* self = GST_NUBO_DEC(parent);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS: {
      gst_event_unref(event);
      finishStream(self, decodeGathered(self));
      return TRUE;
    }
    case GST_EVENT_SEGMENT:
    case GST_EVENT_CAPS:
    case GST_EVENT_STREAM_START:
      // The element makes its own (time, raw audio, its own stream).
      gst_event_unref(event);
      return TRUE;
    case GST_EVENT_FLUSH_STOP:
      gst_adapter_clear(self->adapter);
      return gst_pad_event_default(pad, parent, event);
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

// A seek in time or in frames: the streaming thread is stopped, the next
// block becomes the one that holds the position and the samples before it
// are dropped, then the thread goes on from there.
gboolean performSeek(GstNuboDec* self, GstEvent* event) {
  DecoderState& s = *self->state;
  gdouble rate;
  GstFormat format;
  GstSeekFlags flags;
  GstSeekType startType, stopType;
  gint64 start, stop;
  gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
  if (!s.pullMode || rate <= 0.0) return FALSE;
  GST_OBJECT_LOCK(self);
  const int32_t sampleRate = s.rate;
  GST_OBJECT_UNLOCK(self);
  if (sampleRate <= 0) return FALSE;  // not open yet
  if (format == GST_FORMAT_DEFAULT) {
    // Frames to time.
    if (startType != GST_SEEK_TYPE_NONE && start >= 0) start = static_cast<gint64>(framesToTime(start, sampleRate));
    if (stopType != GST_SEEK_TYPE_NONE && stop >= 0) stop = static_cast<gint64>(framesToTime(stop, sampleRate));
  } else if (format != GST_FORMAT_TIME) {
    return FALSE;
  }
  const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  const guint32 seqnum = gst_event_get_seqnum(event);
  if (flush) {
    GstEvent* e = gst_event_new_flush_start();
    gst_event_set_seqnum(e, seqnum);
    gst_pad_push_event(self->srcpad, e);
  } else {
    gst_pad_pause_task(self->sinkpad);
  }
  GST_PAD_STREAM_LOCK(self->sinkpad);
  GstSegment segment = s.segment;
  gboolean update;
  gst_segment_do_seek(&segment, rate, GST_FORMAT_TIME, flags, startType, start, stopType, stop, &update);
  if (flush) {
    GstEvent* e = gst_event_new_flush_stop(TRUE);
    gst_event_set_seqnum(e, seqnum);
    gst_pad_push_event(self->srcpad, e);
  }
  if (s.opened) {
    const NabReader& r = s.reader;
    const int64_t frame = std::min<int64_t>(
        static_cast<int64_t>(gst_util_uint64_scale(segment.position, sampleRate, GST_SECOND)), r.frameCount());
    const int64_t sample = frame * r.channels();
    s.nextBlock = r.blockOfSample(sample);
    s.dropSamples = sample - r.firstSampleOf(s.nextBlock);
    s.hasCarry = false;
    s.emittedFrames = frame;
    s.stopFrame = GST_CLOCK_TIME_IS_VALID(segment.stop)
                      ? static_cast<int64_t>(gst_util_uint64_scale(segment.stop, sampleRate, GST_SECOND))
                      : -1;
    // The segment starts at the first frame given out.
    segment.start = segment.time = segment.position = framesToTime(frame, sampleRate);
  }
  GST_OBJECT_LOCK(self);
  s.segment = segment;
  GST_OBJECT_UNLOCK(self);
  s.needSegment = true;
  s.discont = true;
  s.seekSeqnum = seqnum;
  GST_DEBUG_OBJECT(self, "seek to %" GST_TIME_FORMAT ": block %" G_GINT64_FORMAT ", %" G_GINT64_FORMAT " samples dropped",
                   GST_TIME_ARGS(segment.start), s.nextBlock, s.dropSamples);
  gst_pad_start_task(self->sinkpad, reinterpret_cast<GstTaskFunction>(pullLoop), self, nullptr);
  GST_PAD_STREAM_UNLOCK(self->sinkpad);
  return TRUE;
}

gboolean srcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  GstNuboDec* self = GST_NUBO_DEC(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    const gboolean done = performSeek(self, event);
    gst_event_unref(event);
    return done;
  }
  return gst_pad_event_default(pad, parent, event);
}

gboolean srcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
  GstNuboDec* self = GST_NUBO_DEC(parent);
  DecoderState& s = *self->state;
  GST_OBJECT_LOCK(self);
  const int64_t frames = s.frames;
  const int32_t rate = s.rate;
  const bool pull = s.pullMode;
  const GstClockTime position = s.segment.position;
  GST_OBJECT_UNLOCK(self);
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
      GstFormat format;
      gst_query_parse_duration(query, &format, nullptr);
      if (frames < 0 || rate <= 0) break;
      if (format == GST_FORMAT_TIME) {
        gst_query_set_duration(query, format, static_cast<gint64>(framesToTime(frames, rate)));
        return TRUE;
      }
      if (format == GST_FORMAT_DEFAULT) {
        gst_query_set_duration(query, format, frames);
        return TRUE;
      }
      break;
    }
    case GST_QUERY_POSITION: {
      GstFormat format;
      gst_query_parse_position(query, &format, nullptr);
      if (rate <= 0) break;
      if (format == GST_FORMAT_TIME) {
        gst_query_set_position(query, format, static_cast<gint64>(position));
        return TRUE;
      }
      if (format == GST_FORMAT_DEFAULT) {
        gst_query_set_position(query, format,
                               static_cast<gint64>(gst_util_uint64_scale(position, rate, GST_SECOND)));
        return TRUE;
      }
      break;
    }
    case GST_QUERY_SEEKING: {
      GstFormat format;
      gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
      if (format == GST_FORMAT_TIME || format == GST_FORMAT_DEFAULT) {
        const bool seekable = pull && frames >= 0 && rate > 0;
        const gint64 end = !seekable                       ? -1
                           : format == GST_FORMAT_DEFAULT ? frames
                                                          : static_cast<gint64>(framesToTime(frames, rate));
        gst_query_set_seeking(query, format, seekable, 0, end);
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return gst_pad_query_default(pad, parent, query);
}

}  // namespace

static GstStateChangeReturn gst_nubo_dec_change_state(GstElement* element, GstStateChange transition) {
  GstNuboDec* self = GST_NUBO_DEC(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    self->state->reset();
    gst_adapter_clear(self->adapter);
  }
  const GstStateChangeReturn result = GST_ELEMENT_CLASS(gst_nubo_dec_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    // The pads are deactivated and the streaming thread has stopped; the
    // next stream adds its own source pad.
    self->state->reset();
    gst_adapter_clear(self->adapter);
    if (self->srcpad != nullptr) {
      gst_element_remove_pad(element, self->srcpad);
      self->srcpad = nullptr;
    }
  }
  return result;
}

static void gst_nubo_dec_finalize(GObject* object) {
  GstNuboDec* self = GST_NUBO_DEC(object);
  self->state->reset();
  delete self->state;
  g_object_unref(self->adapter);
  G_OBJECT_CLASS(gst_nubo_dec_parent_class)->finalize(object);
}

static void gst_nubo_dec_class_init(GstNuboDecClass* klass) {
  GObjectClass* gobject = G_OBJECT_CLASS(klass);
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  gobject->finalize = gst_nubo_dec_finalize;
  element->change_state = gst_nubo_dec_change_state;
  gst_element_class_add_static_pad_template(element, &sink_template);
  gst_element_class_add_static_pad_template(element, &src_template);
  gst_element_class_set_static_metadata(element, "nubo .NAB decoder", "Codec/Decoder/Audio",
                                        "Decodes .NAB files (nubo lossless 16-bit audio) to raw audio",
                                        "the nubo authors");
}

static void gst_nubo_dec_init(GstNuboDec* self) {
  self->state = new DecoderState;
  self->state->reset();
  self->adapter = gst_adapter_new();
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_activate_function(self->sinkpad, sinkActivate);
  gst_pad_set_activatemode_function(self->sinkpad, sinkActivateMode);
  gst_pad_set_chain_function(self->sinkpad, sinkChain);
  gst_pad_set_event_function(self->sinkpad, sinkEvent);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
  self->srcpad = nullptr;
}

// .NAB by its content: a RIFF WAVE header whose format chunk has the tag 0x8A3A.
static void nabTypeFind(GstTypeFind* find, gpointer) {
  const guint8* data = gst_type_find_peek(find, 0, 22);
  if (data == nullptr) return;
  if (std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVEfmt ", 8) != 0) return;
  if (GST_READ_UINT16_LE(data + 20) != kFormatTag) return;
  GstCaps* caps = gst_caps_new_empty_simple(kNabCaps);
  gst_type_find_suggest(find, GST_TYPE_FIND_MAXIMUM, caps);
  gst_caps_unref(caps);
}

static gboolean plugin_init(GstPlugin* plugin) {
  GST_DEBUG_CATEGORY_INIT(nubodec_debug, "nubodec", 0, "nubo .NAB decoder");
  GstCaps* caps = gst_caps_new_empty_simple(kNabCaps);
  // Ranked above the WAVE type finder, which would take the file for a
  // WAVE file of an unknown format: both look at the same RIFF header.
  const gboolean found = gst_type_find_register(plugin, kNabCaps, GST_RANK_PRIMARY + 1, nabTypeFind, "nab,NAB", caps,
                                                nullptr, nullptr);
  gst_caps_unref(caps);
  return found && gst_element_register(plugin, "nubodec", GST_RANK_PRIMARY, GST_TYPE_NUBO_DEC);
}

#ifndef PACKAGE
#define PACKAGE "nubo"
#endif
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, nubo, "nubo lossless audio: .NAB files", plugin_init,
                  NUBO_VERSION, "BSD", "nubo", "nubo")
