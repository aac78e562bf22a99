// TfmPage: the driver's connection settings page ("Варн"): connection type,
// server computer or address, COM port, baud rate, time-out, the logical
// device in use, and the buttons that test the connection and open the
// setup dialogs. Each edit reaches the driver and its logical-device buffer
// at once (SetParamLD); only the connection type and the address kind mark
// the page modified. Without a driver object the page shows the error form.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "driver/gui/gui_common.h"
#include "driver/gui/property_page.h"

class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace varn::gui {

class TfmParams;

class TfmPage : public TPropertyPage2 {
 public:
  explicit TfmPage(QWidget* parent = nullptr);
  ~TfmPage() override;

 protected:
  void UpdateObject() override;
  void UpdatePropertyPage() override;

 private:
  void BuildControls();
  void LoadDevices();
  void LoadFields();
  void UpdateEnabling();
  int32_t TimeoutValue();  // raises with the time-out message
  // Runs a button's action with the seven buttons disabled; errors shown.
  void RunButton(const std::function<void()>& action);
  // Immediate updates: nothing while the page is being loaded.
  void Update(const std::function<void(DriverClient&)>& change);

  void CheckConnection();
  void SetBaudRate();
  void About();
  void FindDevice();
  void OpenTables();
  void LoadPicture();
  void EditDevices();
  void BrowseComputer();
  void EditParams();

  std::optional<DriverClient> m_drv;
  bool m_loading = false;
  QWidget* m_controls = nullptr;
  QWidget* m_error = nullptr;
  QLabel* m_errorInfo = nullptr;
  QComboBox* cbConnectionType = nullptr;
  QLineEdit* edtComputerName = nullptr;
  QToolButton* btnComputerName = nullptr;
  QLabel* lblComputerName = nullptr;
  QLabel* lblUse = nullptr;
  QRadioButton* rbComputer = nullptr;
  QRadioButton* rbIPAddress = nullptr;
  QLabel* lblIPAddress = nullptr;
  QLineEdit* edtIPAddress = nullptr;
  QLabel* lblTCPPort = nullptr;
  QLineEdit* edtTCPPort = nullptr;
  QComboBox* cbComNumber = nullptr;
  QComboBox* cbBaudRate = nullptr;
  QLineEdit* edtTimeout = nullptr;
  QComboBox* cbDevices = nullptr;
  QLineEdit* edtResult = nullptr;
  std::vector<QPushButton*> m_buttons;
  TfmParams* m_params = nullptr;
};

// The text of an edit: an integer, else std::nullopt.
std::optional<int32_t> IntegerText(const QString& text);

}  // namespace varn::gui
