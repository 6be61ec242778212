#include "Unit2.h"

#include "FileStream.h"
#include "RunTime.h"

TForm2* Form2 = nullptr;

TForm2::TForm2()
{
    TFormBinding published;
    published.Field(L"btnAdd", btnAdd);
    published.Field(L"dtpDate", dtpDate);
    published.Handler(L"btnAddClick", this, &TForm2::btnAddClick);
    LoadLayout(L"TFORM2", published);
}

void TForm2::btnAddClick(TObject* /*Sender*/)
{
    TDecodedDate date = DecodeDate(dtpDate->DateTime());
    TDateRecord Rec{date.Year, date.Month, date.Day};
    SaveDateRecord(Rec);
}

void TForm2::SaveDateRecord(const TDateRecord& Rec)
{
    const TDateRecordBytes buffer = EncodeDateRecord(Rec);
    const std::wstring fileName = ExtractFilePath(ExeFileName()) + L"test.dat";

    // One step that never empties an existing file; no other opener while we hold it.
    TFileStream stream(fileName, TFileOpenMode::OpenOrCreate);
    stream.Seek(stream.Size());
    stream.WriteBuffer(buffer.data(), buffer.size());
    stream.FlushToDisk();
}
