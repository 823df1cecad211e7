PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE RELATIONS (
    Id       INTEGER PRIMARY KEY,    -- fixes the reading order; not read by the engine
    X910     TEXT NOT NULL,
    X912     TEXT,
    X916     TEXT NOT NULL,
    X925     TEXT NOT NULL,
    "Table"  TEXT NOT NULL           -- control table name, found ignoring case
);
INSERT INTO RELATIONS VALUES(1,'01','*','*','*','CTRL_CONTRACT');
INSERT INTO RELATIONS VALUES(2,'02','20','*','*','CTRL_CLAIM');
INSERT INTO RELATIONS VALUES(3,'05','','*','*','CTRL_DEFAULT');
INSERT INTO RELATIONS VALUES(4,'*','*','*','*','ctrl_default');
CREATE TABLE Version (
    Version  TEXT NOT NULL
);
INSERT INTO Version VALUES('5.2.0.0');
CREATE TABLE CTRL_CONTRACT (
    Ordre INTEGER PRIMARY KEY, X912 TEXT,
    L1S TEXT, L1Q TEXT, L2S TEXT, L2Q TEXT, L3S TEXT, L3Q TEXT, L4S TEXT, L4Q TEXT,
    Cde TEXT, CdePos INTEGER, De TEXT, DePos INTEGER,
    Mandatory BOOLEAN, MandatoryCondition TEXT, ErrorMessage TEXT,
    Condition TEXT, ConditionErrorMessage TEXT
);
INSERT INTO CTRL_CONTRACT VALUES(10,'00??','RFF','001','','','','','','','C070',1,'X051',1,1,'','Policy number (RFF+001) missing','','');
INSERT INTO CTRL_CONTRACT VALUES(20,'00??','DTM','001','','','','','','','C015',1,'X017',1,1,'','Effective date (DTM+001) missing',replace('begin\n  ErrorMsg := '''';\n  result := length(Value) = 8;\n  if not result then\n    ErrorMsg := ''Effective date (DTM+001) must have 8 digits, found '''''' + Value + ''''''''\nend','\n',char(10)),'');
INSERT INTO CTRL_CONTRACT VALUES(30,'00??','PTY','003','','','','','','','',0,'',0,1,'','Policyholder (PTY+003) missing',replace('begin\n  ErrorMsg := '''';\n  if not VarExists(''PolicyholderBlocks'') then\n    PolicyholderBlocks := 0;\n  PolicyholderBlocks := PolicyholderBlocks + 1;\n  Trace(''policyholder block checked'');\n  result := FindChild(''ADR'');\n  if not result then\n    ErrorMsg := ''Policyholder (PTY+003) without address (ADR)''\nend','\n',char(10)),'');
INSERT INTO CTRL_CONTRACT VALUES(40,'00??','PTY','003','NME','','','','','','',0,'',0,1,'','Policyholder name (NME) missing','','');
INSERT INTO CTRL_CONTRACT VALUES(50,'00??','PTY','003','ADR','','','','','','',0,'X008',1,0,'','',replace('begin\n  ErrorMsg := '''';\n  result := (Value = '''') or (Value = ''B'');\n  if not result then\n    ErrorMsg := ''Policyholder must reside in Belgium, found country '' + Value\nend','\n',char(10)),'');
INSERT INTO CTRL_CONTRACT VALUES(60,'*','ROD','','ICD','','','','','','C095',1,'X058',1,0,'','',replace('begin\n  ErrorMsg := '''';\n  Trace(''guarantee '' + Value);\n  result := FindChild(''IFD'')\nend','\n',char(10)),'Guarantee (ICD) without formula (IFD)');
INSERT INTO CTRL_CONTRACT VALUES(70,'*','ROD','','','','','','','','',0,'',0,0,'result := Find(''IPD+A532'')','Risk object (ROD) required when a product (IPD+A532) is given','','');
INSERT INTO CTRL_CONTRACT VALUES(80,'0004','DTM','007','','','','','','','C015',1,'X017',1,1,'','Cancellation date (DTM+007) missing','','');
CREATE TABLE CTRL_CLAIM (
    Ordre INTEGER PRIMARY KEY, X912 TEXT,
    L1S TEXT, L1Q TEXT, L2S TEXT, L2Q TEXT, L3S TEXT, L3Q TEXT, L4S TEXT, L4Q TEXT,
    Cde TEXT, CdePos INTEGER, De TEXT, DePos INTEGER,
    Mandatory BOOLEAN, MandatoryCondition TEXT, ErrorMessage TEXT,
    Condition TEXT, ConditionErrorMessage TEXT
);
INSERT INTO CTRL_CLAIM VALUES(10,'*','RFF','001','','','','','','','C070',1,'X051',1,1,'','Policy number (RFF+001) missing','','');
INSERT INTO CTRL_CLAIM VALUES(20,'*','DTM','004','','','','','','','C015',1,'X017',1,1,'','Date of loss (DTM+004) missing',replace('begin\n  ErrorMsg := '''';\n  result := length(Value) >= 8;\n  if not result then\n    ErrorMsg := ''Date of loss (DTM+004) incomplete: '' + Value\nend','\n',char(10)),'');
INSERT INTO CTRL_CLAIM VALUES(30,'*','EVT','','','','','','','','',0,'',0,1,'','Claim event (EVT) missing','','');
INSERT INTO CTRL_CLAIM VALUES(40,'*','EVT','','ADR','','','','','','',0,'',0,1,'','Place of the event (EVT ADR) missing','','');
INSERT INTO CTRL_CLAIM VALUES(50,'*','PTY','009','','','','','','','',0,'',0,0,'result := Find(''RFF+011'')','Counterparty (PTY+009) required when its policy number (RFF+011) is given','','');
CREATE TABLE CTRL_DEFAULT (
    Ordre INTEGER PRIMARY KEY, X912 TEXT,
    L1S TEXT, L1Q TEXT, L2S TEXT, L2Q TEXT, L3S TEXT, L3Q TEXT, L4S TEXT, L4Q TEXT,
    Cde TEXT, CdePos INTEGER, De TEXT, DePos INTEGER,
    Mandatory BOOLEAN, MandatoryCondition TEXT, ErrorMessage TEXT,
    Condition TEXT, ConditionErrorMessage TEXT
);
INSERT INTO CTRL_DEFAULT VALUES(10,'*','PTY','003','','','','','','','',0,'',0,0,'','',replace('begin\n  ErrorMsg := '''';\n  result := FindChild(''NME'') or FindChild(''RFF'');\n  if not result then\n    ErrorMsg := ''Policyholder block without name (NME) or reference (RFF)''\nend','\n',char(10)),'');
INSERT INTO CTRL_DEFAULT VALUES(20,'*','MOA','','','','','','','','',0,'',0,0,'','',replace('begin\n  if VarExists(''AmountSegments'') then\n    AmountSegments := AmountSegments + 1\n  else\n    AmountSegments := 1;\n  Trace(''amount segment checked'');\n  result := true\nend','\n',char(10)),'');
INSERT INTO CTRL_DEFAULT VALUES(30,'*','PTY','','ADR','','','','','','',0,'X007',1,0,'','',replace('begin\n  ErrorMsg := '''';\n  result := Value <> '''';\n  if not result then\n    ErrorMsg := ''Party address without city (ADR X007)''\nend','\n',char(10)),'');
INSERT INTO CTRL_DEFAULT VALUES(40,'0031','MOA','','','','','','','','',0,'',0,1,'','Account statement (unit 0031) without amount (MOA)','','');
COMMIT;
