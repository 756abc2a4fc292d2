#include "settings/_QnProductManager.h"

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/ini/IniFile.h"
#include "platform/os/Environment.h"

std::unique_ptr<TQnQuarnellProductList> ProductList;

TQnQuarnellProduct::TQnQuarnellProduct(qint32 AProductId, const QString& AProductName)
    : ProductId(AProductId), ProductName(AProductName) {}

QString TQnQuarnellProduct::VendorName() const {
  return VendorId == 2 ? QStringLiteral("Ardisca") : QStringLiteral("Quarnell");
}

QString TQnQuarnellProduct::VendorFolder() const {
  const QString folder = paths::IncludeTrailingPathDelimiter(Environment::Current().SystemRoot()) + VendorName() + '/';
  if (!paths::DirectoryExists(folder)) paths::ForceDirectories(folder);
  return folder;
}

QString TQnQuarnellProduct::readInfo(const QString& key) const {
  const QString file = VendorInfoIniFile();
  if (!paths::FileExists(file)) return {};
  return ini::ReadProfileString(file, ProductName, key, QString());
}

void TQnQuarnellProduct::writeInfo(const QString& key, const QString& value) const {
  const QString file = VendorInfoIniFile();
  if (!paths::FileExists(file)) return;
  const Exception refused(QStringLiteral("Unable to write to %1").arg(file));
  try {
    if (!ini::WriteProfileString(file, ProductName, key, value)) throw refused;
  } catch (const Exception&) {
    throw refused;
  }
}

TQnQuarnellProduct* TQnQuarnellProductList::AddProduct(qint32 AProductId, const QString& AProductName) {
  FProducts.push_back(std::make_unique<TQnQuarnellProduct>(AProductId, AProductName));
  FProducts.back()->OwnerList = this;
  return FProducts.back().get();
}

TQnQuarnellProduct* TQnQuarnellProductList::GetProduct(qint32 AIndex) const {
  return AIndex < 0 || AIndex >= Count() ? nullptr : FProducts[static_cast<size_t>(AIndex)].get();
}

TQnQuarnellProduct* TQnQuarnellProductList::GetProductById(qint32 AId) const {
  for (const auto& product : FProducts)
    if (product->ProductId == AId) return product.get();
  return nullptr;
}

TQnQuarnellProduct* TQnQuarnellProductList::GetProductByName(const QString& AName) const {
  for (const auto& product : FProducts)
    if (product->ProductName.compare(AName, Qt::CaseInsensitive) == 0) return product.get();
  return nullptr;
}

QString TQnQuarnellProductList::GetVendorNameByProductId(qint32 AProductId) const {
  const TQnQuarnellProduct* product = GetProductById(AProductId);
  return product ? product->VendorName() : QStringLiteral("Quarnell");
}
