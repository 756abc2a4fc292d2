#include <gtest/gtest.h>

#include <QFileInfo>

#include "platform/base/Exception.h"
#include "settings/_QnProductManager.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempFolder.h"

TEST(ProductRegistry, LookUpsByPositionIdAndName) {
  TQnQuarnellProductList list;
  TQnQuarnellProduct* velanto = list.AddProduct(2700, "Velanto");
  velanto->VendorId = 2;
  TQnQuarnellProduct* twin = list.AddProduct(2700, "Twin");
  EXPECT_EQ(velanto->OwnerList, &list);
  EXPECT_EQ(list.GetProduct(-1), nullptr);
  EXPECT_EQ(list.GetProduct(list.Count()), nullptr);
  EXPECT_EQ(list.GetProduct(1), twin);
  EXPECT_EQ(list.GetProductById(2700), velanto);  // the first of two with the same id
  EXPECT_EQ(list.GetProductByName("VELANTO"), velanto);
  EXPECT_EQ(list.GetProductByName("Velanto "), nullptr);
  EXPECT_EQ(list.GetVendorNameByProductId(2700), "Ardisca");
  EXPECT_EQ(list.GetVendorNameByProductId(1), "Quarnell");
}

TEST(ProductRegistry, NamesAndVersions) {
  TQnQuarnellProduct product(1, "Corvane");
  EXPECT_EQ(product.DisplayName(), "Corvane");
  product.SetDisplayName("Corvane Pro");
  EXPECT_EQ(product.DisplayName(), "Corvane Pro");
  product.SetDisplayName("");
  EXPECT_EQ(product.DisplayName(), "Corvane");
  EXPECT_EQ(product.UltimaVersioneDistribuita(), "");
  product.AddVersion("15.00");
  product.AddVersion("14.00");
  EXPECT_EQ(product.UltimaVersioneDistribuita(), "14.00");  // the last added, not the highest
  product.VendorId = 7;
  EXPECT_EQ(product.VendorName(), "Quarnell");
}

TEST(ProductRegistry, VendorInformationFile) {
  TempFolder temp;
  FakeEnvironment environment;
  environment.Root = temp.Path();
  TQnQuarnellProduct product(2700, "Velanto");
  product.VendorId = 2;
  EXPECT_EQ(product.VendorInfoIniFile(), temp.Path() + "Ardisca/Info.ini");
  product.SetVersioneInstallata("14.00");
  EXPECT_FALSE(QFileInfo::exists(product.VendorInfoIniFile()));  // never created
  EXPECT_EQ(product.VersioneInstallata(), "");
  EXPECT_TRUE(QFileInfo(temp.Path() + "Ardisca").isDir());  // but the vendor folder is

  temp.Write("Ardisca/Info.ini", "; installed products\r\n[Velanto]\r\nInstallDir=/opt/velanto\r\n");
  EXPECT_EQ(product.InstallDir(), "/opt/velanto");
  product.SetVersioneInstallata("14.00");
  product.SetEdizioneInstallata("Pro");
  EXPECT_EQ(product.VersioneInstallata(), "14.00");
  EXPECT_EQ(product.EdizioneInstallata(), "Pro");
  EXPECT_TRUE(ReadFile(product.VendorInfoIniFile()).startsWith("; installed products"));
}
