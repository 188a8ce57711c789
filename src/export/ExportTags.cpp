#include "ExportTags.h"

#include <chapterframe.h>
#include <commentsframe.h>
#include <id3v2tag.h>
#include <tableofcontentsframe.h>
#include <textidentificationframe.h>

namespace {

TagLib::String toTagString(const QString& text)
{
    return TagLib::String(text.toStdString(), TagLib::String::UTF8);
}

TagLib::ID3v2::TextIdentificationFrame* textFrame(const char* id, const QString& text)
{
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(TagLib::ByteVector(id), TagLib::String::UTF8);
    frame->setText(toTagString(text));
    return frame;
}

} // namespace

QString ChapterTitle(int number)
{
    return QStringLiteral("インデックス %1").arg(number);
}

QByteArray RenderExportTag(const ExportTags& tags)
{
    TagLib::ID3v2::Tag tag;
    if (!tags.title.isEmpty())
        tag.addFrame(textFrame("TIT2", tags.title));
    if (tags.recorded.isValid())
        tag.addFrame(textFrame("TDRC", tags.recorded.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))));
    if (!tags.comment.isEmpty()) {
        auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        comment->setLanguage("jpn");
        comment->setText(toTagString(tags.comment));
        tag.addFrame(comment);
    }
    if (!tags.chapterStartsMs.isEmpty()) {
        TagLib::ByteVectorList ids;
        for (qsizetype i = 0; i < tags.chapterStartsMs.size(); ++i) {
            const TagLib::ByteVector id = TagLib::ByteVector("chp") + TagLib::String::number(int(i) + 1).data(TagLib::String::Latin1);
            const int64_t start = tags.chapterStartsMs[i];
            const int64_t end = i + 1 < tags.chapterStartsMs.size() ? tags.chapterStartsMs[i + 1] : tags.lengthMs;
            TagLib::ID3v2::FrameList embedded;
            embedded.append(textFrame("TIT2", ChapterTitle(int(i) + 1)));
            // Byte offsets are not given: 0xFFFFFFFF tells players to go by the times.
            tag.addFrame(new TagLib::ID3v2::ChapterFrame(id, uint32_t(start), uint32_t(end), 0xFFFFFFFFu,
                                                         0xFFFFFFFFu, embedded));
            ids.append(id);
        }
        auto* toc = new TagLib::ID3v2::TableOfContentsFrame("toc", ids);
        toc->setIsTopLevel(true);
        toc->setIsOrdered(true);
        tag.addFrame(toc);
    }
    const TagLib::ByteVector rendered = tag.render(TagLib::ID3v2::v4);
    return QByteArray(rendered.data(), int(rendered.size()));
}
