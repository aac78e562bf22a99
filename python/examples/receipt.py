#!/usr/bin/env python3
"""A short receipt through the driver (COM1, as the driver's settings say).

    PYTHONPATH=python python3 python/examples/receipt.py
"""

import sys

import varn

LINES = [
    ("PrintWideString", "ООО «Ромашка»"),
    ("PrintString", "Кассовый чек № 1"),
    ("PrintString", "Хлеб              1 x 45.00"),
    ("PrintString", "Молоко            2 x 89.90"),
    ("PrintWideString", "ИТОГ          224.80"),
]

with varn.Driver(strict=True) as d:
    try:
        d.GetECRStatus()
        print("mode:", d.ECRModeDescription)
        for method, text in LINES:
            d.StringForPrinting = text
            getattr(d, method)()
        d.FontType = 3
        d.StringForPrinting = "Спасибо за покупку!"
        d.PrintStringWithFont()
        d.BarCode = "460123456789"
        d.PrintBarCode()
        d.StringQuantity = 3
        d.FeedDocument()
    except varn.DriverError as e:
        sys.exit(f"{e.method}: {e.code} {e.description}")
print("printed")
