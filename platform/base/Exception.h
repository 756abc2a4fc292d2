// The project's one exception class: its message is the text shown to the user.
#pragma once

#include <QString>
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toStdString()) {}

  const QString& Message() const { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

 private:
  QString FMessage;
  std::string FUtf8;  // what() must hand out storage that lives as long as the exception
};
