// The product registry: the maker's products that may be on the machine, with their
// versions and, from one small Info.ini per vendor under the system root, the installed
// edition, version and folder.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TQnQuarnellProductList;

class TQnQuarnellProduct {
 public:
  TQnQuarnellProduct(qint32 AProductId, const QString& AProductName);

  qint32 VendorId = 1;  // 2 is the second vendor; anything else counts as vendor 1
  qint32 ProductId;
  QString ProductName;  // also the product's section in the vendor's Info.ini
  QString FDisplayName;
  QString SiglaProgramma;
  QString EstensioneFileDefault;
  QStringList VersionHistoryList;  // in the order added, never sorted
  TQnQuarnellProductList* OwnerList = nullptr;

  void AddVersion(const QString& AVersion) { VersionHistoryList << AVersion; }

  QString DisplayName() const { return FDisplayName.isEmpty() ? ProductName : FDisplayName; }
  void SetDisplayName(const QString& name) { FDisplayName = name; }
  QString VendorName() const;
  // <system root><VendorName>/, made on every read when missing.
  QString VendorFolder() const;
  QString VendorInfoIniFile() const { return VendorFolder() + QStringLiteral("Info.ini"); }
  QString UltimaVersioneDistribuita() const {
    return VersionHistoryList.isEmpty() ? QString() : VersionHistoryList.constLast();
  }

  // Read from the vendor's Info.ini at every call; "" when it does not exist.
  QString InstallDir() const { return readInfo(QStringLiteral("InstallDir")); }
  QString EdizioneInstallata() const { return readInfo(QStringLiteral("Edizione")); }
  QString VersioneInstallata() const { return readInfo(QStringLiteral("Versione")); }
  // Written only into an Info.ini that exists. Raises "Unable to write to <path>" when refused.
  void SetEdizioneInstallata(const QString& value) const { writeInfo(QStringLiteral("Edizione"), value); }
  void SetVersioneInstallata(const QString& value) const { writeInfo(QStringLiteral("Versione"), value); }

 private:
  QString readInfo(const QString& key) const;
  void writeInfo(const QString& key, const QString& value) const;
};

class TQnQuarnellProductList {
 public:
  TQnQuarnellProduct* AddProduct(qint32 AProductId, const QString& AProductName);
  TQnQuarnellProduct* GetProduct(qint32 AIndex) const;
  TQnQuarnellProduct* GetProductById(qint32 AId) const;
  // Without regard to letter case.
  TQnQuarnellProduct* GetProductByName(const QString& AName) const;
  // "Quarnell" when there is no such product.
  QString GetVendorNameByProductId(qint32 AProductId) const;
  int Count() const { return static_cast<int>(FProducts.size()); }

 private:
  std::vector<std::unique_ptr<TQnQuarnellProduct>> FProducts;
};

// The run-long list, made and freed by the start-up list.
extern std::unique_ptr<TQnQuarnellProductList> ProductList;
