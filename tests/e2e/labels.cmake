# Read by CTest after the discovered tests: the end-to-end tests carry the
# label "gui" beside "e2e" (a list does not survive GoogleTest's discovery).
# One line a test of tests/e2e.
foreach(_t
        Desktop.ACardAsksBeforeLeavingChangesAndItsDateTakesACalendarDay
        Desktop.TheAgendaFromTheMenuFilteredToASalespersonOpensACard
        Desktop.FirstCompanyByKeyboardAndClicksIntoEmptyFields
        Desktop.FirstCompanyWithTheKeyboardOnly
        Desktop.KeysOfTheWholeProgramWithAWindowManager
        Desktop.KeysOfTheWholeProgramWithoutAWindowManager
        Desktop.PrintingWithNoPrinterSaysSoAndTheReportDialogStays
        Desktop.TheResponsesChartFromTheMenuByKeysAndClosedWithSalir)
    set_tests_properties(${_t} PROPERTIES LABELS "e2e;gui")
endforeach()
