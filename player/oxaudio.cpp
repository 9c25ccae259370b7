#include "oxaudio.h"

#include "oxmediadata.h"
#include "oxqueue.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QDebug>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include <dlfcn.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/macros.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace {

// Writes refused although the device said it had room, 1 ms apart, before a chunk is
// given up as undeliverable.
constexpr int kMaxRefusals = 100;

// Sound the device holds, milliseconds.
constexpr int kBufferMs = 60;

void releaseChunk(void *item)
{
    delete static_cast<OxMediaData *>(item);
}

// A channel mask as a layout for swr; a mask whose channel count doesn't match the
// stream's count (a decoder that knows no layout) is replaced by the default one.
AVChannelLayout layoutFor(uint64_t mask, int channels)
{
    AVChannelLayout layout{};
    av_channel_layout_from_mask(&layout, mask);
    if (channels > 0 && layout.nb_channels != channels) {
        av_channel_layout_uninit(&layout);
        av_channel_layout_default(&layout, channels);
    }
    return layout;
}

// The filter library, loaded on first use: it and the thirty libraries it brings (speech,
// linear algebra, Vulkan) cost 35 to 70 ms of loading and 10 MB of memory on every start,
// and only rates other than 1x need it. Its functions are called through these
// pointers alone, so the program does not link it.
struct FilterLibrary
{
    decltype(&avfilter_graph_alloc) graphAlloc = nullptr;
    decltype(&avfilter_graph_free) graphFree = nullptr;
    decltype(&avfilter_get_by_name) getByName = nullptr;
    decltype(&avfilter_graph_create_filter) createFilter = nullptr;
    decltype(&avfilter_graph_alloc_filter) allocFilter = nullptr;
    decltype(&avfilter_init_str) initStr = nullptr;
    decltype(&avfilter_link) link = nullptr;
    decltype(&avfilter_graph_config) config = nullptr;
    decltype(&av_buffersrc_add_frame) addFrame = nullptr;
    decltype(&av_buffersink_get_frame) getFrame = nullptr;
};

std::optional<FilterLibrary> loadFilterLibrary()
{
    // The major version the headers describe: another one has another ABI.
    const char *name = "libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR);
    void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        qDebug("no tempo filter: %s", dlerror());
        return std::nullopt;
    }
    FilterLibrary library;
    bool complete = true;
    auto resolve = [&](auto &function, const char *symbol) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
            dlsym(handle, symbol));
        complete = complete && function;
    };
    resolve(library.graphAlloc, "avfilter_graph_alloc");
    resolve(library.graphFree, "avfilter_graph_free");
    resolve(library.getByName, "avfilter_get_by_name");
    resolve(library.createFilter, "avfilter_graph_create_filter");
    resolve(library.allocFilter, "avfilter_graph_alloc_filter");
    resolve(library.initStr, "avfilter_init_str");
    resolve(library.link, "avfilter_link");
    resolve(library.config, "avfilter_graph_config");
    resolve(library.addFrame, "av_buffersrc_add_frame");
    resolve(library.getFrame, "av_buffersink_get_frame");
    if (!complete) {
        qDebug("no tempo filter: %s lacks a function", name);
        dlclose(handle);
        return std::nullopt;
    }
    return library; // stays loaded: graphs may live until the program ends
}

// Null when the library cannot be loaded. Loaded once, by the first thread that asks.
const FilterLibrary *filterLibrary()
{
    static const std::optional<FilterLibrary> library = loadFilterLibrary();
    return library ? &*library : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------
// OxAudioOutput

OxAudioOutput::OxAudioOutput() = default;

OxAudioOutput::~OxAudioOutput()
{
    // Normally already stopped by the owner; stopping twice is harmless.
    stop();
}

void OxAudioOutput::setVolume(float v)
{
    volume = v;
    if (output)
        output->setVolume(v);
}

QAudioFormat OxAudioOutput::formatFor(int sampleFormat, int sampleRate, int channels)
{
    QAudioFormat format;
    switch (sampleFormat) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_U8P:
        format.setSampleSize(8);
        format.setSampleType(QAudioFormat::UnSignedInt);
        break;
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        format.setSampleSize(16);
        format.setSampleType(QAudioFormat::SignedInt);
        break;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        format.setSampleSize(32);
        format.setSampleType(QAudioFormat::SignedInt);
        break;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        format.setSampleSize(32);
        format.setSampleType(QAudioFormat::Float);
        break;
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        format.setSampleSize(64);
        format.setSampleType(QAudioFormat::Float);
        break;
    case AV_SAMPLE_FMT_S64:
        format.setSampleSize(64);
        format.setSampleType(QAudioFormat::SignedInt);
        break;
    default:
        break;
    }
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    return format;
}

AVSampleFormat OxAudioOutput::outputFormatFor(QAudioFormat::SampleType type, int sampleSize)
{
    switch (type) {
    case QAudioFormat::SignedInt:
        if (sampleSize == 32)
            return AV_SAMPLE_FMT_S32;
        if (sampleSize == 64)
            return AV_SAMPLE_FMT_S64;
        return AV_SAMPLE_FMT_S16;
    case QAudioFormat::UnSignedInt:
        return AV_SAMPLE_FMT_U8;
    case QAudioFormat::Float:
    case QAudioFormat::Unknown:
        return sampleSize == 32 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_DBL;
    }
    return AV_SAMPLE_FMT_S16;
}

int OxAudioOutput::start(int sampleRate, int sampleFormat, int channels)
{
    stop();
    const QAudioDeviceInfo info = QAudioDeviceInfo::defaultOutputDevice();
    if (info.isNull())
        return -1;
    QAudioFormat format = formatFor(sampleFormat, sampleRate, channels);
    if (!info.isFormatSupported(format)) {
        qDebug("format not support, reformat");
        format = info.nearestFormat(format);
    }
    output = std::make_unique<QAudioOutput>(info, format);
    output->setVolume(volume);
    // A short device buffer: the sound heard trails what was written by at most this much,
    // and the device asks for more in small steps, so it keeps close to the picture.
    output->setBufferSize(format.bytesForDuration(kBufferMs * 1000));
    device = output->start();
    if (!device) {
        stop();
        return -1;
    }
    opened = format;
    return 0;
}

int OxAudioOutput::write(const uint8_t *bytes, qint64 length, const std::atomic<bool> *abort)
{
    if (!output || !device)
        return -1;
    qint64 offset = 0;
    qint64 remaining = length;
    int refused = 0;
    while (remaining > 0) {
        if (abort && abort->load())
            return -1;
        if (!isUsable())
            return -1; // the sound server went away: its stream is gone
        const int period = output->periodSize();
        const int room = output->bytesFree();
        if (period <= 0 || room <= 0) {
            // Full: the device's consumption paces the audio thread.
            QThread::msleep(1);
            continue;
        }
        const qint64 w = device->write(reinterpret_cast<const char *>(bytes) + offset,
                                       std::min<qint64>(remaining, std::min(period, room)));
        if (w < 0 || (w == 0 && ++refused > kMaxRefusals)) {
            // A lost or failing device: drop the rest of this chunk rather than retry forever.
            qDebug("audio write = %lld, error %d", w, int(output->error()));
            return -1;
        }
        if (w == 0) {
            QThread::msleep(1);
            continue;
        }
        refused = 0;
        remaining -= w;
        offset += w;
    }
    return 0;
}

qint64 OxAudioOutput::writeSome(const uint8_t *bytes, qint64 length)
{
    if (!isUsable())
        return -1;
    const qint64 room = std::min<qint64>(length, output->bytesFree());
    if (room <= 0)
        return 0;
    const qint64 w = device->write(reinterpret_cast<const char *>(bytes), room);
    if (w < 0)
        qDebug("audio write = %lld, error %d", w, int(output->error()));
    return w;
}

bool OxAudioOutput::isUsable() const
{
    return output && device && output->state() != QAudio::StoppedState &&
           output->error() != QAudio::FatalError;
}

double OxAudioOutput::bufferSeconds() const
{
    if (!output || opened.bytesPerFrame() <= 0)
        return 0;
    return opened.durationForBytes(output->bufferSize()) / 1e6;
}

double OxAudioOutput::queuedSeconds() const
{
    if (!output || opened.bytesPerFrame() <= 0)
        return 0;
    const qint64 queued = qint64(output->bufferSize()) - output->bytesFree();
    return queued > 0 ? opened.durationForBytes(qint32(queued)) / 1e6 : 0.0;
}

void OxAudioOutput::stop()
{
    if (output) {
        output->stop();
        output.reset();
    }
    device = nullptr;
}

// ---------------------------------------------------------------------------------------
// OxAudioResampler

OxAudioResampler::OxAudioResampler(int inRate, uint64_t inLayout, int inChannels, int inFormat,
                                   int outRate, uint64_t outLayout, int outChannels, int outFormat)
    : inRate(inRate), inLayout(inLayout ? inLayout : AV_CH_FRONT_LEFT), inChannels(inChannels),
      inFormat(inFormat), outRate(outRate), outLayout(outLayout ? outLayout : AV_CH_FRONT_LEFT),
      outChannels(outChannels), outFormat(outFormat)
{
    bytesPerSample = av_get_bytes_per_sample(AVSampleFormat(outFormat));
    planar = av_sample_fmt_is_planar(AVSampleFormat(outFormat));
    buildConverter();
    allocBuffers(1024);
    chunks = std::make_unique<MutexQueue>(releaseChunk);
}

OxAudioResampler::~OxAudioResampler()
{
    chunks->clear();
    converter.reset();
    allocBuffers(0);
}

void OxAudioResampler::buildConverter()
{
    converter.reset();
    needConvert = inRate != outRate || inLayout != outLayout || inChannels != outChannels ||
                  inFormat != outFormat;
    qDebug("%d, %lld, %d, %d", inRate, (long long)inLayout, inChannels, inFormat);
    qDebug("%d, %lld, %d, %d", outRate, (long long)outLayout, outChannels, outFormat);
    // The planar path has room for two planes only.
    const bool fits = !planar || outChannels <= 2;
    if (!needConvert || !fits)
        return;
    AVChannelLayout out = layoutFor(outLayout, outChannels);
    AVChannelLayout in = layoutFor(inLayout, inChannels);
    SwrContext *swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &out, AVSampleFormat(outFormat), outRate, &in,
                            AVSampleFormat(inFormat), inRate, 0, nullptr) >= 0 &&
        swr) {
        converter.reset(swr);
        if (swr_init(swr) < 0) {
            swr_close(swr);
            converter.reset();
        }
    }
    av_channel_layout_uninit(&out);
    av_channel_layout_uninit(&in);
}

void OxAudioResampler::flushConverter()
{
    if (!converter || chunkSamples <= 0)
        return;
    // What the converter holds ends where the last frame ended.
    double time = lastEnd - double(swr_get_delay(converter.get(), outRate)) / outRate;
    uint8_t *out[2] = {buffers[0].get(), buffers[1].get()};
    for (int n = swr_convert(converter.get(), out, chunkSamples, nullptr, 0); n > 0;
         n = swr_convert(converter.get(), out, chunkSamples, nullptr, 0)) {
        const uint8_t *planes[2] = {out[0], planar ? out[1] : nullptr};
        appendAndCut(planes, n, lastFormat, time);
        time += double(n) / outRate;
    }
}

bool OxAudioResampler::setInput(int rate, uint64_t layout, int channels, int format)
{
    if (!layout)
        layout = AV_CH_FRONT_LEFT;
    if (rate == inRate && layout == inLayout && channels == inChannels && format == inFormat)
        return canConvert();
    flushConverter();
    inRate = rate;
    inLayout = layout;
    inChannels = channels;
    inFormat = format;
    buildConverter();
    return canConvert();
}

void OxAudioResampler::allocBuffers(int samples)
{
    for (int i = 0; i < 2; ++i) {
        buffers[i].reset();
        fifos[i].reset();
        chunkBytes[i] = 0;
    }
    chunkSamples = samples;
    if (samples <= 0 || bytesPerSample <= 0)
        return;
    for (int i = 0; i < 2; ++i) {
        chunkBytes[i] = planar ? samples * bytesPerSample : samples * bytesPerSample * outChannels;
        buffers[i].reset(static_cast<uint8_t *>(av_malloc(chunkBytes[i])));
        fifos[i].reset(av_fifo_alloc2(2 * chunkBytes[i], 1, 0));
    }
}

qint64 OxAudioResampler::queuedChunks() const
{
    return chunks->size();
}

std::unique_ptr<OxAudioData> OxAudioResampler::popChunk()
{
    return std::unique_ptr<OxAudioData>(static_cast<OxAudioData *>(chunks->pop()));
}

void OxAudioResampler::reset()
{
    chunks->clear();
    for (auto &fifo : fifos) {
        if (fifo)
            av_fifo_reset2(fifo.get());
    }
    // Samples the converter still holds belong to the old position too.
    if (converter)
        swr_init(converter.get());
}

void OxAudioResampler::appendAndCut(const uint8_t *const planes[2], int samples, int frameFormat,
                                    double time)
{
    // A chunk carries the time of its first sample: the samples waiting before these
    // came just before them.
    const size_t frameBytes = size_t(chunkBytes[0] / chunkSamples);
    double chunkTime = time - double(av_fifo_can_read(fifos[0].get()) / frameBytes) / outRate;
    const int planes_used = planar ? 2 : 1;
    for (int i = 0; i < planes_used; ++i) {
        if (!planes[i])
            continue;
        const size_t bytes = size_t(samples) * bytesPerSample * (planar ? 1 : outChannels);
        av_fifo_write(fifos[i].get(), planes[i], bytes);
    }
    while (av_fifo_can_read(fifos[0].get()) >= size_t(chunkBytes[0])) {
        auto chunk = std::make_unique<OxAudioData>(chunkBytes[0], planar ? chunkBytes[1] : 0);
        for (int i = 0; i < planes_used; ++i) {
            if (chunk->data[i] && av_fifo_read(fifos[i].get(), chunk->data[i], chunk->size[i]) < 0)
                std::memset(chunk->data[i], 0, chunk->size[i]);
        }
        chunk->format = frameFormat;
        chunk->time = chunkTime;
        chunkTime += double(chunkSamples) / outRate;
        chunks->push(chunk.release());
    }
}

void OxAudioResampler::pushFrame(const AVFrame *frame, double time)
{
    pushFrame(frame, time, 0, -1);
}

void OxAudioResampler::pushFrame(const AVFrame *frame, double time, int first, int count)
{
    if (!frame || chunkSamples <= 0 || frame->nb_samples <= 0)
        return;
    first = qBound(0, first, frame->nb_samples);
    const int samples =
        count < 0 ? frame->nb_samples - first : qBound(0, count, frame->nb_samples - first);
    if (samples <= 0)
        return;
    // The conversion was set up for the stream's declared format. A damaged stream can
    // deliver a frame with other channels, format or rate; reading it as declared would
    // read planes that are not there, so such a frame is dropped.
    if (frame->format != inFormat || frame->ch_layout.nb_channels != inChannels ||
        (frame->sample_rate > 0 && frame->sample_rate != inRate))
        return;
    lastFormat = frame->format;
    lastEnd = time + double(samples) / (frame->sample_rate > 0 ? frame->sample_rate : inRate);
    if (needConvert) {
        if (!converter)
            return; // nothing to convert with: the sound is dropped
        // The input planes from sample first on: one per channel when planar.
        const bool inPlanar = av_sample_fmt_is_planar(AVSampleFormat(inFormat));
        const int inPlanes = inPlanar ? inChannels : 1;
        const size_t skip = size_t(first) * av_get_bytes_per_sample(AVSampleFormat(inFormat)) *
                            (inPlanar ? 1 : inChannels);
        std::vector<const uint8_t *> in(size_t(std::max(inPlanes, 1)));
        for (int i = 0; i < inPlanes; ++i)
            in[size_t(i)] = frame->extended_data[i] + skip;
        uint8_t *out[2] = {buffers[0].get(), buffers[1].get()};
        // The converter gives out what it held of the frames before first.
        time -= double(swr_get_delay(converter.get(), outRate)) / outRate;
        int n = swr_convert(converter.get(), out, chunkSamples, in.data(), samples);
        while (n > 0) {
            const uint8_t *planes[2] = {out[0], planar ? out[1] : nullptr};
            appendAndCut(planes, n, frame->format, time);
            time += double(n) / outRate;
            // Empty input (not none): take what the converter still buffers without
            // flushing it as if the stream had ended.
            n = swr_convert(converter.get(), out, chunkSamples, in.data(), 0);
        }
        return;
    }
    const int channelsPerPlane = planar ? 1 : outChannels;
    for (int done = first; done < first + samples;) {
        const int piece = std::min(chunkSamples, first + samples - done);
        const size_t skip = size_t(done) * bytesPerSample * channelsPerPlane;
        const uint8_t *planes[2] = {frame->extended_data[0] + skip,
                                    planar && outChannels > 1 ? frame->extended_data[1] + skip
                                                              : nullptr};
        appendAndCut(planes, piece, frame->format, time + double(done - first) / outRate);
        done += piece;
    }
}

// ---------------------------------------------------------------------------------------
// OxAudioTempo

OxAudioTempo::OxAudioTempo(int sampleRate, int sampleFormat, int channelCount)
    : rate(sampleRate), format(sampleFormat), channels(channelCount),
      frameBytes(av_get_bytes_per_sample(AVSampleFormat(sampleFormat)) * channelCount),
      in(makeFrame()), out(makeFrame())
{
}

OxAudioTempo::~OxAudioTempo() = default;

void OxAudioTempo::GraphDeleter::operator()(AVFilterGraph *graph) const
{
    // A graph was made with the library, so it is loaded.
    filterLibrary()->graphFree(&graph);
}

bool OxAudioTempo::setTempo(double tempo)
{
    current = tempo;
    return build();
}

bool OxAudioTempo::build()
{
    graph.reset();
    source = sink = nullptr;
    inSamples = outSamples = 0;
    if (current == 1.0)
        return true;
    const bool packed = !av_sample_fmt_is_planar(AVSampleFormat(format));
    if (!packed || frameBytes <= 0 || rate <= 0 || current < kMinFilterTempo * kMinFilterTempo)
        return false;
    const FilterLibrary *f = filterLibrary();
    if (!f)
        return false;
    std::unique_ptr<AVFilterGraph, GraphDeleter> g(f->graphAlloc());
    if (!g)
        return false;
    g->nb_threads = 1;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    char layoutName[64] = {0};
    av_channel_layout_describe(&layout, layoutName, sizeof(layoutName));
    const QByteArray args =
        QString::asprintf("sample_rate=%d:sample_fmt=%s:channel_layout=%s:"
                          "time_base=1/%d",
                          rate, av_get_sample_fmt_name(AVSampleFormat(format)), layoutName, rate)
            .toLatin1();
    AVFilterContext *src = nullptr;
    if (f->createFilter(&src, f->getByName("abuffer"), "in", args.constData(), nullptr,
                        g.get()) < 0)
        return false;
    // The sink takes only the format that came in, so nothing is converted behind our back.
    AVFilterContext *snk = f->allocFilter(g.get(), f->getByName("abuffersink"), "out");
    const int formats[] = {format, AV_SAMPLE_FMT_NONE};
    const int rates[] = {rate, -1};
    constexpr int options = AV_OPT_SEARCH_CHILDREN; // a filter's options are its private part's
    if (!snk || av_opt_set_int_list(snk, "sample_fmts", formats, AV_SAMPLE_FMT_NONE, options) < 0 ||
        av_opt_set_int_list(snk, "sample_rates", rates, -1, options) < 0 ||
        av_opt_set(snk, "ch_layouts", layoutName, options) < 0 ||
        f->initStr(snk, nullptr) < 0)
        return false;
    // One filter takes tempos from a half up; below that the tempo is split in two.
    const int stages = current < kMinFilterTempo ? 2 : 1;
    const double each = stages == 2 ? std::sqrt(current) : current;
    AVFilterContext *previous = src;
    for (int i = 0; i < stages; ++i) {
        AVFilterContext *stage = nullptr;
        const QByteArray tempoArg = QByteArray("tempo=") + QByteArray::number(each, 'f', 6);
        if (f->createFilter(&stage, f->getByName("atempo"), nullptr, tempoArg.constData(),
                            nullptr, g.get()) < 0 ||
            f->link(previous, 0, stage, 0) < 0)
            return false;
        previous = stage;
    }
    if (f->link(previous, 0, snk, 0) < 0 || f->config(g.get(), nullptr) < 0)
        return false;
    graph = std::move(g);
    source = src;
    sink = snk;
    return true;
}

void OxAudioTempo::process(const uint8_t *bytes, int size, std::vector<uint8_t> *output)
{
    const int samples = frameBytes > 0 ? size / frameBytes : 0;
    if (samples <= 0)
        return;
    if (!graph) {
        output->insert(output->end(), bytes, bytes + size_t(samples) * frameBytes);
        return;
    }
    in->nb_samples = samples;
    in->format = format;
    in->sample_rate = rate;
    av_channel_layout_default(&in->ch_layout, channels);
    in->pts = inSamples;
    if (av_frame_get_buffer(in.get(), 0) < 0)
        return;
    std::memcpy(in->data[0], bytes, size_t(samples) * frameBytes);
    inSamples += samples;
    // The source takes the frame's buffer and leaves in empty for the next one.
    // A graph exists, so the library is loaded.
    const FilterLibrary *f = filterLibrary();
    if (f->addFrame(source, in.get()) < 0) {
        av_frame_unref(in.get());
        return;
    }
    while (f->getFrame(sink, out.get()) >= 0) {
        const size_t n = size_t(out->nb_samples) * frameBytes;
        output->insert(output->end(), out->data[0], out->data[0] + n);
        outSamples += out->nb_samples;
        av_frame_unref(out.get());
    }
}

double OxAudioTempo::heldSeconds() const
{
    if (!graph || rate <= 0)
        return 0;
    return std::max(0.0, (double(inSamples) - double(outSamples) * current) / rate);
}

void OxAudioTempo::reset()
{
    build();
}
