#pragma once
// The main window: a date field and an Add button that appends the shown date to test.dat.

#include "DateRecord.h"

#include "Button.h"
#include "DateTimePicker.h"
#include "Form.h"

class TForm2 : public TForm
{
public: // bound by name from the stored layout
    TButton* btnAdd = nullptr;
    TDateTimePicker* dtpDate = nullptr;
    void btnAddClick(TObject* Sender);

public:
    TForm2();

private:
    void SaveDateRecord(const TDateRecord& Rec);
};

extern TForm2* Form2;
