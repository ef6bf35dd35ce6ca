# The main window: layout (Unit1.ui), drop batch, result list drawing and the edit button.
add_library(tessaly_window STATIC
    Unit1.h
    Unit1.cpp
    Unit1.ui
    Unit1ResultList.cpp
    Application.cpp
    Application.h
    ConversionBatch.cpp
    ConversionBatch.h
    DesignFont.cpp
    DesignFont.h
    DetachedProcess.cpp
    DetachedProcess.h
    HeaderControl.cpp
    HeaderControl.h
    InputHold.cpp
    InputHold.h
    QtNotifyWindow.cpp
    QtNotifyWindow.h
    ResultItemDelegate.cpp
    ResultItemDelegate.h
    ShownText.cpp
    ShownText.h
    SignalCloser.cpp
    SignalCloser.h
)
target_include_directories(tessaly_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tessaly_window PUBLIC Qt6::Widgets tessaly_convert_core)
