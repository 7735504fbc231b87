#include "timelapse/film_maker.h"

#include "capture/whole_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace framelog {

namespace {

// Decoded pictures waiting for the encoder: enough to keep it busy while
// the next is read, few enough that 4K pictures stay a few dozen MB.
constexpr size_t kQueued = 6;

QString avText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

double threadCpuS()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double processCpuS()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

FramePtr blankFrame(QSize size)
{
    FramePtr frame(av_frame_alloc());
    if (frame) {
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = size.width();
        frame->height = size.height();
    }
    if (!frame || av_frame_get_buffer(frame.get(), 0) < 0)
        throw EFilm(QStringLiteral("out of memory for a %1x%2 picture")
                        .arg(size.width())
                        .arg(size.height()));
    return frame;
}

// Reads, decodes and fits pictures to the film's size. One per thread.
class PictureReader {
public:
    ~PictureReader()
    {
        avcodec_free_context(&m_jpeg);
        avcodec_free_context(&m_png);
        av_packet_free(&m_packet);
        av_frame_free(&m_raw);
        sws_freeContext(m_sws);
    }

    // Decodes `path` into the raw frame; an empty text on success, else why not.
    QString decode(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return file.errorString();
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return file.errorString();
        AVCodecContext **context = nullptr;
        AVCodecID id;
        if (bytes.startsWith("\xFF\xD8")) {
            context = &m_jpeg;
            id = AV_CODEC_ID_MJPEG;
        } else if (bytes.startsWith("\x89PNG\r\n\x1a\n")) {
            context = &m_png;
            id = AV_CODEC_ID_PNG;
        } else {
            return bytes.isEmpty() ? QStringLiteral("the file is empty")
                                   : QStringLiteral("not a JPEG or PNG picture");
        }
        if (!*context) {
            const AVCodec *codec = avcodec_find_decoder(id);
            *context = codec ? avcodec_alloc_context3(codec) : nullptr;
            if (!*context)
                return QStringLiteral("no decoder for it in this FFmpeg");
            (*context)->thread_count = 1;
            if (const int e = avcodec_open2(*context, codec, nullptr); e < 0) {
                avcodec_free_context(context);
                return avText(e);
            }
        }
        if (!m_packet)
            m_packet = av_packet_alloc();
        if (!m_raw)
            m_raw = av_frame_alloc();
        if (av_new_packet(m_packet, int(bytes.size())) < 0)
            return QStringLiteral("out of memory");
        memcpy(m_packet->data, bytes.constData(), size_t(bytes.size()));
        int e = avcodec_send_packet(*context, m_packet);
        av_packet_unref(m_packet);
        if (e >= 0)
            e = avcodec_receive_frame(*context, m_raw);
        if (e < 0) {
            avcodec_flush_buffers(*context);
            return avText(e);
        }
        if (m_raw->width < 1 || m_raw->height < 1)
            return QStringLiteral("the picture has no pixels");
        return QString();
    }

    QSize rawSize() const { return QSize(m_raw->width, m_raw->height); }

    // The raw frame fitted into a new frame of `size`: scaled to fit,
    // centred, padded with black.
    FramePtr fit(QSize size)
    {
        FramePtr out = blankFrame(size);
        const int w = m_raw->width;
        const int h = m_raw->height;
        int fw = size.width();
        int fh = size.height();
        if (qint64(w) * size.height() > qint64(h) * size.width())
            fh = int(qint64(h) * size.width() / w);
        else
            fw = int(qint64(w) * size.height() / h);
        fw = std::max(2, fw & ~1);
        fh = std::max(2, fh & ~1);
        const int ox = ((size.width() - fw) / 2) & ~1;
        const int oy = ((size.height() - fh) / 2) & ~1;
        if (fw != size.width() || fh != size.height()) {
            // Black, in the film's limited range.
            for (int y = 0; y < size.height(); ++y)
                memset(out->data[0] + y * out->linesize[0], 16, size_t(size.width()));
            for (int p = 1; p < 3; ++p)
                for (int y = 0; y < size.height() / 2; ++y)
                    memset(out->data[p] + y * out->linesize[p], 128, size_t(size.width() / 2));
        }
        m_sws = sws_getCachedContext(m_sws, w, h, AVPixelFormat(m_raw->format), fw, fh,
                                     AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_sws)
            throw EFilm(QStringLiteral("cannot scale a %1x%2 picture").arg(w).arg(h));
        uint8_t *planes[4] = {out->data[0] + oy * out->linesize[0] + ox,
                              out->data[1] + (oy / 2) * out->linesize[1] + ox / 2,
                              out->data[2] + (oy / 2) * out->linesize[2] + ox / 2, nullptr};
        sws_scale(m_sws, m_raw->data, m_raw->linesize, 0, h, planes, out->linesize);
        av_frame_unref(m_raw);
        return out;
    }

private:
    AVCodecContext *m_jpeg = nullptr;
    AVCodecContext *m_png = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_raw = nullptr;
    SwsContext *m_sws = nullptr;
};

// The film file: a hidden temporary file beside the output until it is
// whole, then renamed over it.
class FilmFile {
public:
    explicit FilmFile(const QString &output) : m_output(output)
    {
        const QFileInfo info(output);
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100; ++attempt) {
            QString letters;
            for (int i = 0; i < 12; ++i)
                letters += QLatin1Char(
                    kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))]);
            const QString name = info.absolutePath() + QStringLiteral("/.framelog\x7f") + letters +
                                 QStringLiteral(".tmp");
            const int fd = ::open(QFile::encodeName(name).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                m_temporary = name;
                return;
            }
            if (errno != EEXIST)
                break;
        }
        throw EFilm(QStringLiteral("Cannot create file \"%1\". %2")
                        .arg(fullPathForMessage(output), systemErrorText(errno)));
    }
    ~FilmFile()
    {
        if (!m_temporary.isEmpty())
            QFile::remove(m_temporary);
    }
    const QString &temporary() const { return m_temporary; }

    // On disk, then under its name.
    void commit()
    {
        const QByteArray name = QFile::encodeName(m_temporary);
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            const int code = errno;
            if (fd >= 0)
                ::close(fd);
            throw EFilm(QStringLiteral("Cannot write file \"%1\". %2")
                            .arg(fullPathForMessage(m_output), systemErrorText(code)));
        }
        ::close(fd);
        if (::rename(name.constData(), QFile::encodeName(m_output).constData()) != 0)
            throw EFilm(QStringLiteral("Cannot create file \"%1\". %2")
                            .arg(fullPathForMessage(m_output), systemErrorText(errno)));
        m_temporary.clear();
    }

private:
    QString m_output;
    QString m_temporary;
};

// The encoder and the muxer of one film.
class FilmEncoder {
public:
    FilmEncoder(const FilmPlan &plan, const QString &temporary, QSize size)
    {
        const QByteArray output = QFile::encodeName(plan.output);
        const AVOutputFormat *format = av_guess_format(nullptr, output.constData(), nullptr);
        if (!format || avformat_alloc_output_context2(&m_format, format, nullptr,
                                                      QFile::encodeName(temporary).constData()) < 0)
            throw EFilm(QStringLiteral("this FFmpeg cannot write %1").arg(plan.output));
        const QByteArray name = encoderName(plan.codec).toLatin1();
        const AVCodec *codec = avcodec_find_encoder_by_name(name.constData());
        if (!codec)
            throw EFilm(QStringLiteral("this FFmpeg has no encoder %1").arg(QLatin1String(name)));
        m_stream = avformat_new_stream(m_format, nullptr);
        m_codec = avcodec_alloc_context3(codec);
        m_packet = av_packet_alloc();
        if (!m_stream || !m_codec || !m_packet)
            throw EFilm(QStringLiteral("out of memory"));
        const AVRational rate = av_d2q(plan.fps, 100000);
        m_codec->width = size.width();
        m_codec->height = size.height();
        m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
        m_codec->time_base = av_inv_q(rate);
        m_codec->framerate = rate;
        m_codec->color_range = AVCOL_RANGE_MPEG;
        m_codec->bit_rate = 0; // quality by CRF alone
        if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
            m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        AVDictionary *options = nullptr;
        switch (plan.codec) {
        case FilmCodec::H264:
            av_dict_set_int(&options, "crf", plan.crf.value_or(23), 0);
            av_dict_set(&options, "preset",
                        plan.preset.isEmpty() ? "medium" : plan.preset.toLatin1().constData(), 0);
            break;
        case FilmCodec::VP9:
            av_dict_set_int(&options, "crf", plan.crf.value_or(31), 0);
            av_dict_set(&options, "deadline", "good", 0);
            av_dict_set(&options, "cpu-used", "4", 0);
            av_dict_set(&options, "row-mt", "1", 0);
            break;
        case FilmCodec::AV1:
            av_dict_set_int(&options, "crf", plan.crf.value_or(30), 0);
            if (name == "libsvtav1") {
                av_dict_set(&options, "preset", "8", 0);
            } else {
                av_dict_set(&options, "cpu-used", "6", 0);
                av_dict_set(&options, "row-mt", "1", 0);
            }
            break;
        }
        const int opened = avcodec_open2(m_codec, codec, &options);
        av_dict_free(&options);
        if (opened < 0)
            throw EFilm(QStringLiteral("cannot start the %1 encoder: %2")
                            .arg(QLatin1String(name), avText(opened)));
        avcodec_parameters_from_context(m_stream->codecpar, m_codec);
        m_stream->time_base = m_codec->time_base;
        m_stream->avg_frame_rate = rate;

        if (const int e =
                avio_open(&m_format->pb, QFile::encodeName(temporary).constData(), AVIO_FLAG_WRITE);
            e < 0)
            throw EFilm(QStringLiteral("Cannot create file \"%1\". %2")
                            .arg(fullPathForMessage(plan.output), avText(e)));
        AVDictionary *mux = nullptr;
        // A film that starts playing before it is all downloaded.
        if (QByteArray(format->name).contains("mp4"))
            av_dict_set(&mux, "movflags", "+faststart", 0);
        const int header = avformat_write_header(m_format, &mux);
        av_dict_free(&mux);
        if (header < 0)
            throw EFilm(QStringLiteral("cannot start the film: %1").arg(avText(header)));
        m_output = plan.output;
    }

    ~FilmEncoder()
    {
        av_packet_free(&m_packet);
        avcodec_free_context(&m_codec);
        if (m_format) {
            avio_closep(&m_format->pb);
            avformat_free_context(m_format);
        }
    }

    void add(AVFrame *frame)
    {
        if (frame)
            frame->pts = m_next++;
        const int e = avcodec_send_frame(m_codec, frame);
        if (e < 0)
            throw EFilm(QStringLiteral("the encoder refused a picture: %1").arg(avText(e)));
        drain();
    }

    void finish()
    {
        add(nullptr);
        if (const int e = av_write_trailer(m_format); e < 0)
            throw EFilm(QStringLiteral("Cannot write file \"%1\". %2")
                            .arg(fullPathForMessage(m_output), avText(e)));
        if (const int e = avio_closep(&m_format->pb); e < 0)
            throw EFilm(QStringLiteral("Cannot write file \"%1\". %2")
                            .arg(fullPathForMessage(m_output), avText(e)));
    }

private:
    void drain()
    {
        while (true) {
            const int e = avcodec_receive_packet(m_codec, m_packet);
            if (e == AVERROR(EAGAIN) || e == AVERROR_EOF)
                return;
            if (e < 0)
                throw EFilm(QStringLiteral("the encoder failed: %1").arg(avText(e)));
            // Each picture stands for one frame's time.
            if (m_packet->duration == 0)
                m_packet->duration = 1;
            av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
            m_packet->stream_index = m_stream->index;
            if (const int w = av_interleaved_write_frame(m_format, m_packet); w < 0)
                throw EFilm(QStringLiteral("Cannot write file \"%1\". %2")
                                .arg(fullPathForMessage(m_output), avText(w)));
        }
    }

    AVFormatContext *m_format = nullptr;
    AVStream *m_stream = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVPacket *m_packet = nullptr;
    qint64 m_next = 0;
    QString m_output;
};

// Pictures on their way from the reading thread to the encoder.
struct Queue {
    struct Item {
        FramePtr frame; // empty: the picture was skipped
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> items;
    bool ended = false;
    bool cancelled = false;
    std::exception_ptr failure;
};

} // namespace

QString encoderName(FilmCodec codec)
{
    switch (codec) {
    case FilmCodec::H264:
        return QStringLiteral("libx264");
    case FilmCodec::VP9:
        return QStringLiteral("libvpx-vp9");
    case FilmCodec::AV1:
        // SVT-AV1 is by far the faster where this FFmpeg has it.
        return avcodec_find_encoder_by_name("libsvtav1") ? QStringLiteral("libsvtav1")
                                                         : QStringLiteral("libaom-av1");
    }
    return QString();
}

FilmResult makeFilm(const FilmPlan &plan, const std::vector<FilmPicture> &pictures,
                    const FilmHooks &hooks)
{
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = processCpuS();
    FilmResult result;
    const auto stopped = [&] { return hooks.stop && hooks.stop->load(); };
    const auto warn = [&](const QString &path, const QString &why) {
        ++result.skipped;
        if (hooks.warn)
            hooks.warn(path, why);
    };

    // The first readable picture sets the film's size.
    size_t first = 0;
    FramePtr firstFrame;
    double readerCpu = 0;
    double scaleCpu = 0;
    {
        PictureReader reader;
        const double before = threadCpuS();
        for (; first < pictures.size() && !stopped(); ++first) {
            const QString why = reader.decode(pictures[first].path);
            if (why.isEmpty())
                break;
            warn(pictures[first].path, why);
        }
        if (first == pictures.size())
            throw EFilmInput(
                QStringLiteral("none of the %1 pictures could be read").arg(pictures.size()));
        if (stopped())
            throw EFilm(QStringLiteral("stopped: no film written"));
        const QSize raw = reader.rawSize();
        result.size = QSize((raw.width() + 1) & ~1, (raw.height() + 1) & ~1);
        const double decoded = threadCpuS();
        firstFrame = reader.fit(result.size);
        scaleCpu += threadCpuS() - decoded;
        readerCpu += decoded - before;
    }

    FilmFile file(plan.output);
    FilmEncoder encoder(plan, file.temporary(), result.size);

    Queue queue;
    std::thread reading([&] {
        PictureReader reader;
        double decodeS = 0;
        double scaleS = 0;
        try {
            for (size_t i = first + 1; i < pictures.size(); ++i) {
                const double t0 = threadCpuS();
                const QString why = reader.decode(pictures[i].path);
                const double t1 = threadCpuS();
                decodeS += t1 - t0;
                Queue::Item item;
                if (why.isEmpty()) {
                    item.frame = reader.fit(result.size);
                    scaleS += threadCpuS() - t1;
                } else if (hooks.warn) {
                    hooks.warn(pictures[i].path, why);
                }
                std::unique_lock lock(queue.mutex);
                queue.changed.wait(lock,
                                   [&] { return queue.items.size() < kQueued || queue.cancelled; });
                if (queue.cancelled)
                    break;
                queue.items.push_back(std::move(item));
                queue.changed.notify_all();
            }
        } catch (...) {
            const std::lock_guard lock(queue.mutex);
            queue.failure = std::current_exception();
        }
        const std::lock_guard lock(queue.mutex);
        readerCpu += decodeS;
        scaleCpu += scaleS;
        queue.ended = true;
        queue.changed.notify_all();
    });
    const auto cancel = [&] {
        {
            const std::lock_guard lock(queue.mutex);
            queue.cancelled = true;
        }
        queue.changed.notify_all();
        reading.join();
    };

    FilmProgress progress{0, qint64(pictures.size()), result.skipped, 0};
    const auto report = [&] {
        if (hooks.progress) {
            progress.skipped = result.skipped;
            progress.elapsedS = double(wall.elapsed()) / 1000.0;
            hooks.progress(progress);
        }
    };
    try {
        encoder.add(firstFrame.get());
        firstFrame.reset();
        ++result.frames;
        progress.done = qint64(first) + 1;
        report();
        while (true) {
            Queue::Item item;
            {
                std::unique_lock lock(queue.mutex);
                queue.changed.wait(lock, [&] { return !queue.items.empty() || queue.ended; });
                if (queue.items.empty()) {
                    if (queue.failure)
                        std::rethrow_exception(queue.failure);
                    break;
                }
                item = std::move(queue.items.front());
                queue.items.pop_front();
                queue.changed.notify_all();
            }
            if (stopped())
                throw EFilm(QStringLiteral("stopped: no film written"));
            if (item.frame) {
                encoder.add(item.frame.get());
                ++result.frames;
            } else {
                ++result.skipped;
            }
            ++progress.done;
            report();
        }
        reading.join();
        encoder.finish();
    } catch (...) {
        if (reading.joinable())
            cancel();
        throw;
    }
    file.commit();
    result.timings.wallS = double(wall.elapsed()) / 1000.0;
    result.timings.readAndDecodeS = readerCpu;
    result.timings.scaleS = scaleCpu;
    result.timings.encodeS = std::max(0.0, processCpuS() - cpuAtStart - readerCpu - scaleCpu);
    return result;
}

} // namespace framelog
